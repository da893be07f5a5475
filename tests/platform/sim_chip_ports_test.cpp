// The simulated chip's ports are plugged and unplugged by the source file's
// watcher while the chip thread measures them: both sides take the ports'
// lock (the thread checker reports a change that does not).

#include "platform/sim_c331_inputs.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using platform::sim::SimC331Inputs;

TEST(SimChipPorts, UnplugWhileThePortIsReadTakesThePortsLock)
{
    SimC331Inputs inputs;
    SimC331Inputs::Signal signal;
    signal.htotal = 2200;
    signal.vtotal = 1125;
    signal.hactive = 1920;
    signal.rate = 60;
    inputs.plug(0, signal);
    std::thread watcher([&inputs] { inputs.unplug(0); });
    (void)inputs.plugged(0);   // the chip thread's read, before or after the unplug
    watcher.join();
    EXPECT_FALSE(inputs.plugged(0));
}

} // namespace
