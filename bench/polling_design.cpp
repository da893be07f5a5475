// The polling design, for comparison with the program's idle cost: nine
// worker threads (the chip, FPGA and source-check threads and the six command
// links), each looping on a select() with a 1 us time-out over a socket that
// stays quiet, then a 1 us sleep, as a design whose threads poll would.
// bench/idle_cpu.sh runs it beside zemR47N and prints the ratio of the two.
// Usage: polling_design [seconds, default 30]

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <sys/select.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int THREADS = 9;
std::atomic<bool> g_stop{false};

void pollForever(int fd)
{
    while (!g_stop) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval timeout{0, 1};
        select(fd + 1, &readable, nullptr, nullptr, &timeout);
        usleep(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    std::vector<std::thread> threads;
    std::vector<int> quiet;
    for (int i = 0; i < THREADS; ++i) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0)
            return 1;
        quiet.insert(quiet.end(), pair, pair + 2);
        threads.emplace_back(pollForever, pair[0]);
        pthread_setname_np(threads.back().native_handle(), ("poll-" + std::to_string(i + 1)).c_str());
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds > 0 ? seconds : 30));
    g_stop = true;
    for (std::thread &t : threads)
        t.join();
    for (int fd : quiet)
        close(fd);
    return 0;
}
