// The apply request across a pass: what a writer raises while the chip
// thread applies an earlier request is left pending for the next pass.

#include "app/para_lock.h"

#include <gtest/gtest.h>

namespace {

struct PassCase {
    const char *name;
    uint8_t pending;       // raised before the pass begins
    uint8_t during;        // raised while it runs (0: nothing)
    uint8_t afterwards;    // pending once it has ended
};

TEST(ApplyRequest, ARequestRaisedDuringAPassIsLeftForTheNextOne)
{
    const PassCase cases[] = {
        {"nothing raised meanwhile", 1, 0, 0},
        {"the same level again", 1, 1, 1},
        {"a user-mode check after a change", 1, 2, 2},
        {"a change after a user-mode check", 2, 1, 1},
        {"a user-mode check twice", 2, 2, 2},
    };
    for (const PassCase &c : cases) {
        SCOPED_TRACE(c.name);
        ParaLock lock;
        para_lock::request() = 0;
        raise_apply_request_locked(c.pending);
        EXPECT_EQ(para_lock::begin_pass(), c.pending);
        if (c.during)
            raise_apply_request_locked(c.during);
        // Until the pass ends nobody may take the image as applied.
        EXPECT_EQ(para_lock::request(), c.pending);
        para_lock::end_pass();
        EXPECT_EQ(para_lock::request(), c.afterwards);
        para_lock::request() = 0;
    }
}

TEST(ApplyRequest, NoPassRunsWithoutARequestAndRaisesStayPending)
{
    ParaLock lock;
    para_lock::request() = 0;
    EXPECT_EQ(para_lock::begin_pass(), 0);
    raise_apply_request_locked(2);
    raise_apply_request_locked(1);
    EXPECT_EQ(para_lock::request(), 2) << "a pending user-mode check is never lowered";
    para_lock::request() = 0;
}

} // namespace
