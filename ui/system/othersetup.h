#ifndef UI_SYSTEM_OTHERSETUP_H
#define UI_SYSTEM_OTHERSETUP_H

// Other settings (page 17): key lock, WiFi and the panel's language (the
// languages enabled on this device, each by its own name); OK saves the
// parameters.

#include "ui/panelpage.h"

class QPushButton;

class othersetup : public PanelPage
{
    Q_OBJECT
public:
    explicit othersetup(QWidget *parent = nullptr);
    void syncUpdate();

    // Makes `lang` (0..4) the panel's language: image byte 768, stored and
    // shown on every page. Languages not enabled are refused.
    static bool choose_language(int lang);
    // Native name of language 0..4.
    static QString languageName(int lang);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
    void redraw() override;

private:
    QList<QPushButton *> m_languages;
};

#endif
