// Threads for the analysis: a pool that runs whole jobs (one input file
// each, say) and lends its idle threads to the dense kernels of a job.
//
// A kernel never depends on how many threads help it: every element it
// computes is computed by exactly one task, and a task computes the same
// thing whichever thread runs it, so results are identical for any number
// of threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mv {

class Parallel;

// The caller's thread plus threads - 1 workers.  Workers take submitted jobs
// first (in the order submitted) and, when there is none, help the run() of
// any Parallel on this pool that has tasks left.
class ThreadPool {
 public:
  // threads >= 1; with 1 no thread is started and every job runs at once in
  // submit().  When the system refuses a thread, the pool keeps those that
  // started (size() says how many), down to the caller's alone.
  explicit ThreadPool(int threads);
  // Waits until every submitted job has run (the calling thread takes jobs
  // from the queue too), then joins the workers.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Threads in all, the caller's included.
  int size() const { return size_; }

  // Queue a whole job.  A job must not let an exception escape (it would end
  // the process, as from any thread).
  void submit(std::function<void()> job);

 private:
  friend class Parallel;
  struct Run;  // a run() with tasks left, see parallel.cpp

  void workerLoop();
  // Under mutex_: a run that accepts one more helper, or null.
  Run* helpable();
  void addRun(Run* run);
  // Takes the run off the list, then waits until its helpers have left,
  // helping other runs meanwhile.
  void removeRun(Run* run);
  // Help `run` (lock holds mutex_, and is held again on return).
  void help(Run* run, std::unique_lock<std::mutex>& lock);
  bool takeJob(std::function<void()>& job);

  int size_;
  // Counts the runs and jobs handed in, so that a worker that has just
  // finished can watch for the next one for a moment before it sleeps.
  std::atomic<unsigned> handedIn_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  // Wakes the callers of runs waiting for their helpers: a helper has left,
  // or a run has been listed.
  std::condition_variable waiting_;
  std::deque<std::function<void()>> jobs_;
  std::vector<Run*> runs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// What one analysis may use: up to maxThreads threads of a pool, the
// caller's included.  A default Parallel runs everything inline.
class Parallel {
 public:
  Parallel() = default;
  Parallel(ThreadPool& pool, int maxThreads);

  int maxThreads() const { return maxThreads_; }

  // Runs task(t) for t = 0 .. ntasks - 1 and returns when all have finished.
  // The caller claims tasks itself, in ascending t; idle workers of the pool
  // claim the next ones, up to maxThreads threads in all.  A task that
  // claims later may wait for one that claimed earlier (the earlier one is
  // running), never the other way round.  If tasks throw, the others still
  // run, and the exception of the lowest such t is rethrown here.
  void run(int ntasks, const std::function<void(int)>& task) const;

 private:
  ThreadPool* pool_ = nullptr;
  int maxThreads_ = 1;
};

}  // namespace mv
