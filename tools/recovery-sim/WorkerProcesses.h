// Independent rehearsals on every core: each job runs in a worker process of its own and its output
// comes back in job order. A process per job, not a thread: the module keeps module-wide state and
// the seam reaches one platform per process, so two recoveries must never share a process.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace rsim {

// Runs `job(i)` for i = 0 .. count-1, each in a forked worker process, at most `workers` at a time
// (0: one per core). `deliver(i, output)` runs in this process in job order, as soon as job i and
// every job before it have finished. Throws std::runtime_error when a job throws or its worker
// dies; the other workers are stopped first.
void run_in_workers(std::size_t count, const std::function<std::string(std::size_t)>& job,
                    const std::function<void(std::size_t, const std::string&)>& deliver,
                    unsigned workers = 0);

}  // namespace rsim
