// A V-by-One window needs a channel pair. With channel 0 free but its partner
// held by a single-channel window that cannot move (channels 2 to 7 taken),
// the pair is refused and every window keeps its channels.

#include "input_fixture.h"

#include <algorithm>
#include <vector>

namespace {

using namespace chiptest;

using IchPairTest = InputTest;

TEST_F(IchPairTest, PairIsRefusedWhenThePartnersOwnerHasNowhereToGo)
{
    const std::vector<int32_t> owners = {-1, 3, 2, 2, 0, 0, 1, 1};
    std::copy(owners.begin(), owners.end(), m->ich_owner);
    EXPECT_EQ(m->check_ich(0, 1), -1);
    EXPECT_EQ(m->adjust_ich(0, 1, 4), -1);
    EXPECT_EQ(std::vector<int32_t>(m->ich_owner, m->ich_owner + 8), owners);
}

} // namespace
