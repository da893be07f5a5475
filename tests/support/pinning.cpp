#include "support/pinning.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sched.h>

namespace zemtest {

int sharedCpu()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    int last = 0;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set))
            last = c;
    return last;
}

void pinThread(pid_t tid, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(tid, sizeof set, &set);
}

pid_t threadNamed(const std::string &name)
{
    DIR *dir = opendir("/proc/self/task");
    pid_t found = 0;
    while (dirent *e = dir ? readdir(dir) : nullptr) {
        std::string comm;
        std::ifstream(std::string("/proc/self/task/") + e->d_name + "/comm") >> comm;
        if (comm == name)
            found = pid_t(std::atoi(e->d_name));
    }
    if (dir)
        closedir(dir);
    return found;
}

} // namespace zemtest
