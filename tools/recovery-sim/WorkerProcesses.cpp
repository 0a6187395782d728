// Forked workers, one pipe each: the worker writes a status byte and its output, then exits; the
// parent polls the pipes, reaps the workers and delivers the outputs in job order.
#include "tools/recovery-sim/WorkerProcesses.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

namespace rsim {

namespace {

constexpr char kDone = 'd', kFailed = 'f';

struct Worker {
  std::size_t job;
  pid_t pid;
  int fd;
  std::string received;
};

void write_all(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the parent is gone; nothing left to tell
    sent += static_cast<std::size_t>(n);
  }
}

// Reads what is available; true at end of file.
bool drain(Worker& w) {
  char buf[65536];
  ssize_t n = ::read(w.fd, buf, sizeof buf);
  if (n < 0) return errno != EINTR && errno != EAGAIN;
  w.received.append(buf, static_cast<std::size_t>(n));
  return n == 0;
}

// Reaps a finished worker; its output, or the reason it failed.
std::string finish(Worker& w, bool& failed) {
  ::close(w.fd);
  int status = 0;
  while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
  }
  failed = true;
  if (WIFSIGNALED(status))
    return "worker for job " + std::to_string(w.job) + " died of signal " + std::to_string(WTERMSIG(status));
  if (w.received.empty()) return "worker for job " + std::to_string(w.job) + " ended without a result";
  failed = w.received[0] != kDone;
  return w.received.substr(1);
}

void stop(std::vector<Worker>& running) {
  for (Worker& w : running) {
    ::kill(w.pid, SIGTERM);
    ::close(w.fd);
    ::waitpid(w.pid, nullptr, 0);
  }
  running.clear();
}

}  // namespace

namespace {
unsigned cores_or(unsigned workers) {
  if (workers != 0) return workers;
  long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  return cores > 0 ? static_cast<unsigned>(cores) : 1;
}
}  // namespace

void run_in_workers(std::size_t count, const std::function<std::string(std::size_t)>& job,
                    const std::function<void(std::size_t, const std::string&)>& deliver, unsigned workers) {
  std::vector<std::optional<std::string>> results(count);
  std::size_t next_deliver = 0;
  WorkerPool pool(cores_or(workers), [&](std::size_t i, const std::string& output) {
    results[i] = output;
    for (; next_deliver < count && results[next_deliver]; next_deliver++) {
      deliver(next_deliver, *results[next_deliver]);
      results[next_deliver].reset();
    }
  });
  for (std::size_t i = 0; i < count; i++) {
    if (pool.fork_job(i)) {
      try {
        pool.reply(job(i));
      } catch (const std::exception& e) {
        pool.reply(e.what(), true);
      } catch (...) {
        pool.reply("unknown exception", true);
      }
    }
  }
  pool.wait_all();
}

struct WorkerPool::Worker : rsim::Worker {};

WorkerPool::WorkerPool(unsigned workers, Deliver deliver)
    : workers_(cores_or(workers)), deliver_(std::move(deliver)) {}

WorkerPool::~WorkerPool() {
  std::vector<rsim::Worker> left(running_.begin(), running_.end());
  stop(left);
}

bool WorkerPool::fork_job(std::size_t job) {
  while (running_.size() >= workers_) wait_some();
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("cannot create a pipe for a worker");
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::runtime_error("cannot start a worker process");
  }
  if (pid == 0) {
    ::close(fds[0]);
    for (Worker& w : running_) ::close(w.fd);  // the siblings' pipes belong to the parent
    running_.clear();
    reply_fd_ = fds[1];
    return true;
  }
  ::close(fds[1]);
  running_.push_back(Worker{
      {job, pid, fds[0], {}}
  });
  return false;
}

void WorkerPool::reply(const std::string& output, bool failed) {
  write_all(reply_fd_, (failed ? kFailed : kDone) + output);
  ::close(reply_fd_);
  ::_exit(0);  // no atexit handlers, no flush of stdio buffers inherited from the parent
}

void WorkerPool::wait_some() {
  std::vector<pollfd> fds;
  for (const Worker& w : running_) fds.push_back(pollfd{w.fd, POLLIN, 0});
  if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
    throw std::runtime_error("waiting for the workers failed");
  }
  for (std::size_t k = fds.size(); k-- > 0;) {
    if (fds[k].revents == 0 || !drain(running_[k])) continue;
    bool failed = false;
    std::size_t finished = running_[k].job;
    std::string output = finish(running_[k], failed);
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(k));
    if (failed) throw std::runtime_error(output);
    deliver_(finished, output);
  }
}

void WorkerPool::wait_all() {
  while (!running_.empty()) wait_some();
}

}  // namespace rsim
