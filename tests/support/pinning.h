#ifndef TESTS_SUPPORT_PINNING_H
#define TESTS_SUPPORT_PINNING_H

// Benchmarks that compare a link with a plain peer pin the threads that take
// part in a round trip to one processor, so that each hand-off costs what the
// threads do and not where the scheduler happens to place them.

#include <string>
#include <sys/types.h>

namespace zemtest {

// The processor such threads share: the last one this process may use.
int sharedCpu();
// Pins thread `tid` (0: the calling thread) to processor `cpu`.
void pinThread(pid_t tid, int cpu);
// Id of this process's thread named `name`, 0 when there is none.
pid_t threadNamed(const std::string &name);

} // namespace zemtest

#endif
