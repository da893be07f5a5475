// The OSD menu file: a JSON object with the menu set's name, its counts and
// up to three menus, each a text menu (lines in a font, colours, alignment,
// scrolling) or a bitmap menu (the bitmap kept in the chip's flash).

#include "videoproc/omenu.h"

#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstring>
#include <mutex>

OSD_LIST g_osd_list;

const char *const OMENU_FILE = "/data/configs/omenu.json";

namespace {

constexpr int MENU_ENTRIES = 3;
// Positions, sizes and speeds of a menu lie well inside this; a number beyond
// it is no menu value (and could not be placed without overflowing).
constexpr double INTEGER_LIMIT = 1000000;
constexpr int TEXT_MENU = 0;
constexpr int BITMAP_MENU = 1;

// Reads the keys of one JSON object; the first key that is missing or of the
// wrong kind makes the whole read fail (ok() false).
class Keys
{
public:
    explicit Keys(const QJsonObject &o) : m_o(o) {}
    bool ok() const { return m_ok; }

    int integer(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        bool ok = v.isDouble();
        double d = v.toDouble();
        if (v.isString())
            d = v.toString().trimmed().toInt(&ok, 10);
        if (ok && d == std::floor(d) && std::fabs(d) <= INTEGER_LIMIT)
            return int(d);
        return fail(key), 0;
    }
    std::string text(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString())
            return fail(key), std::string();
        return v.toString().toStdString();
    }
    std::string text(const char *key, const char *absent)
    {
        return m_o.contains(QLatin1String(key)) ? text(key) : std::string(absent);
    }
    std::string color(const char *key)
    {
        const std::string c = text(key);
        uint32_t rgb;
        if (m_ok && !omenu_color(c, rgb))
            fail(key);
        return c;
    }
    Keys object(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isObject())
            fail(key);
        return Keys(v.toObject(), *this);
    }
    QJsonArray array(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isArray())
            fail(key);
        return v.toArray();
    }
    void fail(const char *key)
    {
        if (m_ok)
            debugPrint("\n omenu: key \"%s\" missing or of the wrong kind \n", key);
        m_ok = false;
        if (m_parent)
            m_parent->fail(key);
    }

private:
    Keys(const QJsonObject &o, Keys &parent) : m_o(o), m_parent(&parent) {}

    QJsonObject m_o;
    Keys *m_parent = nullptr;
    bool m_ok = true;
};

// Integer keys of an object and the fields they fill.
struct IntKey {
    const char *key;
    int OMENU_PARA::*field;
};
constexpr IntKey POS_KEYS[] = {{"x", &OMENU_PARA::x}, {"y", &OMENU_PARA::y}, {"w", &OMENU_PARA::w}, {"h", &OMENU_PARA::h}};
constexpr IntKey ACT_KEYS[] = {
    {"effect", &OMENU_PARA::effect}, {"speed", &OMENU_PARA::speed}, {"staytime", &OMENU_PARA::staytime}};
constexpr IntKey FONT_KEYS[] = {{"startx", &OMENU_PARA::startx}, {"starty", &OMENU_PARA::starty},
                                {"fontw", &OMENU_PARA::fontw},   {"fonth", &OMENU_PARA::fonth},
                                {"wordspace", &OMENU_PARA::wordspace}, {"verticalspace", &OMENU_PARA::verticalspace}};

template <size_t N> void read_ints(Keys &o, const IntKey (&keys)[N], OMENU_PARA &e)
{
    for (const IntKey &k : keys)
        e.*k.field = o.integer(k.key);
}

void read_text_menu(Keys &m, OMENU_PARA &e)
{
    Keys pos = m.object("pos");
    read_ints(pos, POS_KEYS, e);
    Keys act = m.object("act");
    read_ints(act, ACT_KEYS, e);
    e.h_align = act.text("h_align", "left");
    e.v_align = act.text("v_align", "top");
    Keys back = m.object("backpara");
    e.back_enable = back.text("enable");
    e.back_color = back.color("color");
    e.layer = pos.text("layer", "");
    Keys font = m.object("fontpara");
    read_ints(font, FONT_KEYS, e);
    e.font_color = font.color("color");
    const QJsonArray texts = m.array("texts");
    if (texts.isEmpty() || !texts.first().isString())
        m.fail("texts");
    else
        e.text = texts.first().toString().toStdString();
}

void read_bitmap_menu(Keys &m, OMENU_PARA &e)
{
    Keys pos = m.object("pos");
    read_ints(pos, POS_KEYS, e);
    Keys act = m.object("act");
    read_ints(act, ACT_KEYS, e);
    m.object("bmppara");
    e.bmp_start = m.integer("start");
    e.bmp_end = m.integer("end");
}

bool read_menu(const QJsonValue &v, OMENU_PARA &e)
{
    if (!v.isObject())
        return false;
    Keys m(v.toObject());
    e.type = m.integer("type");
    e.status = m.text("status");
    if (!m.ok())
        return false;
    if (e.type == TEXT_MENU)
        read_text_menu(m, e);
    else if (e.type == BITMAP_MENU)
        read_bitmap_menu(m, e);
    return m.ok();
}

void print_entry(int i, const OMENU_PARA &e)
{
    debugPrint("\n omenu[%d]: type %d status %s pos %d,%d %dx%d layer %s act %d/%d/%d align %s/%s"
               " back %s %s font %d,%d %dx%d space %d/%d color %s bmp %d-%d text \"%s\"",
               i, e.type, e.status.c_str(), e.x, e.y, e.w, e.h, e.layer.c_str(), e.effect, e.speed, e.staytime,
               e.h_align.c_str(), e.v_align.c_str(), e.back_enable.c_str(), e.back_color.c_str(), e.startx,
               e.starty, e.fontw, e.fonth, e.wordspace, e.verticalspace, e.font_color.c_str(), e.bmp_start,
               e.bmp_end, e.text.c_str());
}

// The whole file read into the list; false when it is no menu file.
bool read_menus(const std::string &bytes, OSD_LIST &list)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &error);
    if (error.error != QJsonParseError::NoError) {
        debugPrint("json error: %s\n", error.errorString().toUtf8().constData());
        return false;
    }
    if (!doc.isObject()) {
        debugPrint("json error: the menu file is no object\n");
        return false;
    }
    Keys top(doc.object());
    const int count = top.integer("osdcount");
    const int actions = top.integer("oactcount");
    if (!top.ok())
        return false;
    if (count != 0) {
        // An empty array leaves the entries as they were.
        const QJsonArray menus = top.array("menu");
        if (!top.ok())
            return false;
        for (int i = 0; i < MENU_ENTRIES && i < menus.size(); ++i) {
            if (!read_menu(menus.at(i), list.entry[i]))
                return false;
            print_entry(i, list.entry[i]);
        }
    }
    list.entry[0].osdcount = count;
    list.entry[0].oactcount = actions;
    return true;
}

} // namespace

bool omenu_color(const std::string &text, uint32_t &rgb)
{
    QString digits = QString::fromStdString(text).trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 6)
        return false;
    bool ok = false;
    rgb = digits.toUInt(&ok, 16);
    return ok;
}

bool get_json_omenu_para(const char *path, OSD_LIST &list)
{
    list.entry[0].osdcount = 0;
    // Held across the read and the removal, so that a file the PC tool sends
    // meanwhile is never the one removed.
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    std::string bytes;
    if (!platform::files::readAll(path, platform::files::Kind::OsdMenu, bytes))
        return false;
    if (read_menus(bytes, list))
        return true;
    list.entry[0].osdcount = 0;
    if (std::strcmp(path, OMENU_FILE) == 0)
        platform::files::remove(path);
    return false;
}
