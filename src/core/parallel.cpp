// The thread pool and the task runs of the kernels.
//
// A run lives on the stack of its caller.  Kernels start runs in quick
// succession (one per step of a reduction, say), so waking a sleeping
// thread for each would cost more than the run: a worker that finds
// nothing to do watches for new work for a short while before it sleeps,
// and the caller of a run, helping the runs its helpers start, watches them leave before it sleeps.
// While it has tasks left it is listed in the pool, where idle workers find it; a worker that joins
// counts itself as a helper under the pool's mutex and claims tasks from the run's atomic counter
// until none is left.  The caller claims tasks the same way, then takes the run off the list (no
// helper can join after that) and waits until the helpers have left.  Every claimed task is being
// run by the thread that claimed it, so the wait always ends: with every worker busy elsewhere the
// caller simply runs all the tasks itself.
#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <exception>
#include <system_error>
#include <utility>

namespace mv {

struct ThreadPool::Run {
  const std::function<void(int)>* task = nullptr;
  int ntasks = 0;
  int maxHelpers = 0;
  std::atomic<int> next{0};
  // Helpers at work; changed under the pool's mutex, read by the caller
  // without it while it waits.
  std::atomic<int> helpers{0};
  std::mutex errorMutex;
  std::exception_ptr error;
  int errorTask = INT_MAX;

  // Claim and run tasks until none is left.
  void work() {
    for (int t = next.fetch_add(1, std::memory_order_relaxed); t < ntasks;
         t = next.fetch_add(1, std::memory_order_relaxed)) {
      try {
        (*task)(t);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(errorMutex);
        if (t < errorTask) {
          errorTask = t;
          error = std::current_exception();
        }
      }
    }
  }
};

ThreadPool::ThreadPool(int threads) : size_(threads < 1 ? 1 : threads) {
  workers_.reserve(static_cast<std::size_t>(size_ - 1));
  for (int k = 1; k < size_; ++k) {
    try {
      workers_.emplace_back([this] { workerLoop(); });
    } catch (const std::system_error&) {
      // The system allows no more threads (a process limit): work with
      // those that started, down to the caller's alone.
      break;
    }
  }
  size_ = static_cast<int>(workers_.size()) + 1;
}

ThreadPool::~ThreadPool() {
  std::function<void()> job;
  while (takeJob(job)) job();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& w : workers_) w.join();
}

namespace {

// How long an idle worker watches for new work, and a run's caller for its
// helpers to leave, before sleeping.
constexpr std::chrono::microseconds kWatch{200};

// Spin until done() or kWatch has passed; returns done().
template <typename Done>
bool watch(Done done) {
  const auto until = std::chrono::steady_clock::now() + kWatch;
  for (int k = 0;; ++k) {
    if (done()) return true;
    if ((k & 63) == 63 && std::chrono::steady_clock::now() > until) return done();
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

}  // namespace

void ThreadPool::submit(std::function<void()> job) {
  if (size_ == 1) {
    job();
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    handedIn_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_one();
}

bool ThreadPool::takeJob(std::function<void()>& job) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return false;
  job = std::move(jobs_.front());
  jobs_.pop_front();
  return true;
}

ThreadPool::Run* ThreadPool::helpable() {
  for (Run* r : runs_)
    if (r->helpers.load(std::memory_order_relaxed) < r->maxHelpers &&
        r->next.load(std::memory_order_relaxed) < r->ntasks)
      return r;
  return nullptr;
}

void ThreadPool::addRun(Run* run) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    runs_.push_back(run);
    handedIn_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_all();
  waiting_.notify_all();
}

void ThreadPool::help(Run* run, std::unique_lock<std::mutex>& lock) {
  run->helpers.fetch_add(1, std::memory_order_relaxed);
  lock.unlock();
  run->work();
  lock.lock();
  if (run->helpers.fetch_sub(1, std::memory_order_acq_rel) == 1) waiting_.notify_all();
}

void ThreadPool::removeRun(Run* run) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (std::size_t k = 0; k < runs_.size(); ++k) {
    if (runs_[k] == run) {
      runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(k));
      break;
    }
  }
  // A helper leaves under the mutex: once the mutex is free again after the
  // count reached zero, no helper touches the run any more.  Until then the
  // caller helps the runs that its helpers start (or that other jobs
  // start): it would be idle otherwise, and the helper's task may be the
  // longer half of the work.  Every task it claims is a later one of its
  // run, so it never holds up an earlier one.
  auto gone = [run] { return run->helpers.load(std::memory_order_acquire) == 0; };
  Run* other = nullptr;
  auto next = [&] { return gone() || (other = helpable()) != nullptr; };
  while (!gone()) {
    if (!next()) {
      const unsigned seen = handedIn_.load(std::memory_order_acquire);
      lock.unlock();
      watch([&] { return gone() || handedIn_.load(std::memory_order_acquire) != seen; });
      lock.lock();
      waiting_.wait(lock, next);
    }
    if (other != nullptr && !gone()) help(other, lock);
    other = nullptr;
  }
}

void ThreadPool::workerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Run* run = nullptr;
    auto ready = [&] { return stopping_ || !jobs_.empty() || (run = helpable()) != nullptr; };
    if (!ready()) {
      const unsigned seen = handedIn_.load(std::memory_order_acquire);
      lock.unlock();
      watch([&] { return handedIn_.load(std::memory_order_acquire) != seen; });
      lock.lock();
      wake_.wait(lock, ready);
    }
    if (!jobs_.empty()) {
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      continue;
    }
    if (run != nullptr) {
      help(run, lock);
      continue;
    }
    return;  // stopping, and no job left
  }
}

Parallel::Parallel(ThreadPool& pool, int maxThreads)
    : pool_(&pool), maxThreads_(maxThreads < 1 ? 1 : maxThreads) {}

void Parallel::run(int ntasks, const std::function<void(int)>& task) const {
  if (ntasks <= 0) return;
  ThreadPool::Run run;
  run.task = &task;
  run.ntasks = ntasks;
  const int threads = pool_ == nullptr ? 1 : std::min(maxThreads_, pool_->size());
  run.maxHelpers = std::min(threads, ntasks) - 1;
  if (run.maxHelpers > 0) pool_->addRun(&run);
  run.work();
  if (run.maxHelpers > 0) pool_->removeRun(&run);
  if (run.error) std::rethrow_exception(run.error);
}

}  // namespace mv
