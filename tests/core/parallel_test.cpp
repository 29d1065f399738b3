// The thread pool and the task runs: every task runs exactly once, runs
// nested in jobs finish while the pool is busy, a waiting caller helps, and a task's exception
// reaches the caller of run() only after the other tasks have run.
#include "core/parallel.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Counts, per task index, how often the task ran.
std::vector<int> runCounts(const mv::Parallel& par, int ntasks) {
  std::vector<std::atomic<int>> hits(static_cast<std::size_t>(ntasks));
  par.run(ntasks, [&](int t) { hits[static_cast<std::size_t>(t)].fetch_add(1); });
  std::vector<int> out;
  for (auto& h : hits) out.push_back(h.load());
  return out;
}

TEST(Parallel, EveryTaskRunsExactlyOnceForAnyThreadCount) {
  mv::ThreadPool pool(3);
  EXPECT_EQ(pool.size(), 3);
  for (int threads : {1, 2, 3, 8}) {
    const mv::Parallel par(pool, threads);
    for (int ntasks : {0, 1, 2, 7, 1000}) {
      const std::vector<int> counts = runCounts(par, ntasks);
      for (int t = 0; t < ntasks; ++t)
        ASSERT_EQ(counts[static_cast<std::size_t>(t)], 1)
            << "task " << t << " of " << ntasks << ", " << threads << " threads";
    }
  }
  // The default Parallel runs everything on the caller's thread, in order.
  const mv::Parallel inlinePar;
  EXPECT_EQ(inlinePar.maxThreads(), 1);
  std::vector<int> order;
  inlinePar.run(5, [&](int t) { order.push_back(t); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Parallel, IdleWorkersHelpUpToTheThreadLimit) {
  mv::ThreadPool pool(3);
  for (int limit : {1, 2, 3}) {
    const mv::Parallel par(pool, limit);
    std::mutex m;
    std::set<std::thread::id> seen;
    std::atomic<int> inside{0}, most{0};
    par.run(64, [&](int) {
      const int now = inside.fetch_add(1) + 1;
      for (int seen_most = most.load();
           now > seen_most && !most.compare_exchange_weak(seen_most, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      inside.fetch_sub(1);
      const std::lock_guard<std::mutex> lock(m);
      seen.insert(std::this_thread::get_id());
    });
    EXPECT_LE(most.load(), limit);
    EXPECT_LE(static_cast<int>(seen.size()), limit);
    if (limit == 1) {
      EXPECT_EQ(*seen.begin(), std::this_thread::get_id());
    } else {
      // 64 ms of tasks: the idle workers have joined.
      EXPECT_GE(static_cast<int>(seen.size()), 2);
    }
  }
}

TEST(Parallel, CallerHelpsTheRunsOfItsHelpersWhileItWaits) {
  // Two threads, two tasks: the worker's starts a run of 64 tasks of 1 ms,
  // the one on the caller's thread ends once that has begun (or after 2 s,
  // should the worker never come).  The caller, waiting for the worker,
  // takes part of that run rather than sleeping.
  mv::ThreadPool pool(2);
  const mv::Parallel par(pool, 2);
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> started{false};
  std::mutex m;
  std::set<std::thread::id> seen;
  par.run(2, [&](int) {
    if (std::this_thread::get_id() == caller) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (!started.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      return;
    }
    started.store(true);
    par.run(64, [&](int) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::lock_guard<std::mutex> lock(m);
      seen.insert(std::this_thread::get_id());
    });
  });
  EXPECT_EQ(seen.size(), 2u);
}

TEST(Parallel, LaterTaskMayWaitForAnEarlierOne) {
  // Task t waits until task t - 1 has finished: claims in ascending order
  // make this safe for any number of threads.
  mv::ThreadPool pool(3);
  for (int threads : {1, 2, 3}) {
    const mv::Parallel par(pool, threads);
    std::vector<std::atomic<int>> done(50);
    par.run(50, [&](int t) {
      if (t > 0)
        while (done[static_cast<std::size_t>(t - 1)].load(std::memory_order_acquire) == 0)
          std::this_thread::yield();
      done[static_cast<std::size_t>(t)].store(1, std::memory_order_release);
    });
    for (auto& d : done) EXPECT_EQ(d.load(), 1);
  }
}

TEST(ThreadPool, JobsRunInOrderWithOneThreadAndAllRunBeforeDestruction) {
  std::vector<int> order;
  {
    mv::ThreadPool single(1);
    for (int k = 0; k < 5; ++k) single.submit([&order, k] { order.push_back(k); });
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));

  std::atomic<int> ran{0};
  {
    mv::ThreadPool pool(2);
    for (int k = 0; k < 100; ++k) pool.submit([&ran] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 100);
}

TEST(ThreadPool, RunsNestedInJobsFinishWhileEveryWorkerIsBusy) {
  // Each job uses the pool's threads for its own run(); with more jobs than
  // threads every worker is busy with a job, so the runs must not wait for
  // help that cannot come.
  constexpr int kJobs = 12, kTasks = 200;
  std::vector<std::atomic<int>> sums(kJobs);
  {
    mv::ThreadPool pool(3);
    const mv::Parallel par(pool, 3);
    for (int j = 0; j < kJobs; ++j)
      pool.submit([&, j] {
        par.run(kTasks, [&, j](int t) {
          sums[static_cast<std::size_t>(j)].fetch_add(t);
          if (t % 50 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        });
      });
  }
  for (auto& s : sums) EXPECT_EQ(s.load(), kTasks * (kTasks - 1) / 2);
}

TEST(ThreadPool, IdleWorkerTakesAQueuedJobBeforeHelpingARun) {
  // Two workers.  Job 0 keeps one busy until job 1, on the other, has
  // started a run of two tasks whose first waits for job 2 to start.  When
  // job 0 ends, its worker finds both job 2 in the queue and the run's
  // second task: it must take the job first, so the second task cannot
  // start before job 2 has.
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> inRun{false}, job2Started{false}, job1Done{false};
  std::atomic<long> job2At{0}, task1At{0};
  auto stamp = [] { return static_cast<long>(Clock::now().time_since_epoch().count()); };
  auto waitFor = [](const std::atomic<bool>& flag) {
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!flag.load() && Clock::now() < until) std::this_thread::yield();
    return flag.load();
  };
  bool task0SawJob2 = false;
  mv::ThreadPool pool(3);
  const mv::Parallel par(pool, 2);
  pool.submit([&] {
    waitFor(inRun);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  pool.submit([&] {
    inRun = true;
    par.run(2, [&](int t) {
      if (t == 0) {
        task0SawJob2 = waitFor(job2Started);
      } else {
        task1At = stamp();
      }
    });
    job1Done = true;
  });
  pool.submit([&] {
    job2At = stamp();
    job2Started = true;
  });
  // The main thread takes no job: it waits here, not in the destructor.
  ASSERT_TRUE(waitFor(job1Done));
  EXPECT_TRUE(task0SawJob2);
  EXPECT_LE(job2At.load(), task1At.load());
}

TEST(Parallel, TaskExceptionReachesTheCallerAfterTheOtherTasks) {
  mv::ThreadPool pool(3);
  for (int threads : {1, 2, 3}) {
    const mv::Parallel par(pool, threads);
    std::vector<std::atomic<int>> ran(40);
    try {
      par.run(40, [&](int t) {
        ran[static_cast<std::size_t>(t)].store(1);
        if (t == 7 || t == 30) throw std::runtime_error("refused in task " + std::to_string(t));
      });
      ADD_FAILURE() << "no exception, " << threads << " threads";
    } catch (const std::runtime_error& e) {
      // The lowest failing task's exception, whichever thread ran it.
      EXPECT_STREQ(e.what(), "refused in task 7");
    }
    for (int t = 0; t < 40; ++t) EXPECT_EQ(ran[static_cast<std::size_t>(t)].load(), 1) << t;
    // The pool still works afterwards.
    const std::vector<int> counts = runCounts(par, 10);
    for (int c : counts) EXPECT_EQ(c, 1);
  }
}

}  // namespace

namespace {

// Under a process limit that refuses every new thread, a pool keeps the
// caller's thread alone and still runs every job and task.  Run in a child
// process: the limit must not bind the test runner.
TEST(ThreadPool, FallsBackWhenTheSystemRefusesThreads) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The limit binds only an ordinary user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(77);
    try {
      std::thread t([] {});
      t.join();
      _exit(77);  // threads are not limited here
    } catch (const std::system_error&) {
    }
    int code = 0;
    {
      mv::ThreadPool pool(8);
      if (pool.size() != 1) code |= 1;
      const mv::Parallel par(pool, 8);
      if (runCounts(par, 100) != std::vector<int>(100, 1)) code |= 2;
      int jobs = 0;
      for (int k = 0; k < 5; ++k) pool.submit([&] { ++jobs; });
      if (jobs != 5) code |= 4;
    }
    _exit(code);
  }
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  if (WEXITSTATUS(st) == 77) GTEST_SKIP() << "no thread limit can be set here";
  EXPECT_EQ(WEXITSTATUS(st), 0) << "1: size, 2: tasks, 4: jobs";
}

}  // namespace
