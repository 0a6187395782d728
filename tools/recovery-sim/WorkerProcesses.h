// Independent rehearsals on every core: each job runs in a worker process of its own and its output
// comes back in job order. A process per job, not a thread: the module keeps module-wide state and
// the seam reaches one platform per process, so two recoveries must never share a process.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace rsim {

// Runs `job(i)` for i = 0 .. count-1, each in a forked worker process, at most `workers` at a time
// (0: one per core). `deliver(i, output)` runs in this process in job order, as soon as job i and
// every job before it have finished. Throws std::runtime_error when a job throws or its worker
// dies; the other workers are stopped first.
void run_in_workers(std::size_t count, const std::function<std::string(std::size_t)>& job,
                    const std::function<void(std::size_t, const std::string&)>& deliver,
                    unsigned workers = 0);

// Workers forked wherever the caller stands (a survey forks its whole simulated machine at each
// cut point): `fork_job` returns true in the new worker, which ends with `reply`; in this process
// it returns false once the worker is started, after waiting while `workers` are busy. Outputs are
// delivered as workers finish (not in job order). Throws std::runtime_error when a worker fails;
// the destructor stops the workers still running.
class WorkerPool {
 public:
  using Deliver = std::function<void(std::size_t, const std::string&)>;
  WorkerPool(unsigned workers, Deliver deliver);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  bool fork_job(std::size_t job);
  // In a worker: sends its output (or, `failed`, the reason it failed) and ends the process.
  [[noreturn]] void reply(const std::string& output, bool failed = false);
  // Waits until every worker has finished and its output was delivered.
  void wait_all();

 private:
  struct Worker;
  void wait_some();
  unsigned workers_;
  Deliver deliver_;
  std::vector<Worker> running_;
  int reply_fd_ = -1;  // in a worker: its pipe
};

}  // namespace rsim
