#ifndef TESTS_SUPPORT_PENDING_SAVES_H
#define TESTS_SUPPORT_PENDING_SAVES_H

#include "app/zemrampara.h"

namespace zemtest {

// Forgets the user-mode saves an earlier test left waiting for their file,
// so that none is stored into this test's root.
inline void dropPendingSaves(ZemRamPara *store)
{
    for (const ZemRamPara::PendingSave &save : store->pending_saves()) {
        ImageLock lock(store);
        store->drop_save_locked(save.mode);
    }
}

} // namespace zemtest

#endif
