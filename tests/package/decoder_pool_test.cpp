#include "package/decoder_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using package::DecodeJob;
using package::DecoderPool;
using namespace std::chrono_literals;

// Waits for a job to end as the committer does, collecting what it published.
bool WaitEnded(DecoderPool& pool, DecodeJob& job, std::vector<std::int32_t>* progress = nullptr) {
  for (int i = 0; i < 500; ++i)
    if (pool.Wait(job, 20ms, [&](std::int32_t p) {
          if (progress) progress->push_back(p);
        }))
      return true;
  return false;
}

// Spins until `condition` holds; false after ten seconds (a hung decoder).
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// An entry that only counts its runs: one that must never start leaves 0.
DecoderPool::Work Counted(std::atomic<int>& runs) {
  return [&runs](package::DecodeWorkspace&, DecodeJob&) {
    ++runs;
    return true;
  };
}

TEST(DecoderPool, DecodersRunEntriesAtOnceEachWithItsOwnBuffers) {
  DecoderPool pool(2, 4, {1000, 3000});
  std::atomic<int> started{0};
  std::vector<const package::DecodeWorkspace*> seen(2, nullptr);
  std::vector<std::shared_ptr<DecodeJob>> jobs;
  for (int i = 0; i < 2; ++i)
    jobs.push_back(pool.Submit([&, i](package::DecodeWorkspace& work, DecodeJob&) {
      EXPECT_EQ(work.input.size(), 1000u);
      EXPECT_EQ(work.output.size(), 3000u);
      seen[i] = &work;
      ++started;
      // Neither ends before the other has begun: two decoders at work.
      return Eventually([&] { return started == 2; });
    }));
  for (auto& job : jobs) {
    ASSERT_TRUE(WaitEnded(pool, *job));
    EXPECT_TRUE(pool.Completed(*job));
    EXPECT_FALSE(pool.Failure(*job));
  }
  EXPECT_NE(seen[0], seen[1]);
}

TEST(DecoderPool, NoMoreThanTheLimitIsOutUntilReleased) {
  DecoderPool pool(2, 3, {});
  std::vector<std::shared_ptr<DecodeJob>> jobs;
  while (pool.HasRoom())
    jobs.push_back(pool.Submit([](package::DecodeWorkspace&, DecodeJob&) { return true; }));
  EXPECT_EQ(jobs.size(), 3u);
  ASSERT_TRUE(WaitEnded(pool, *jobs[0]));
  // Finished is not enough: the place is free once the committer let it go.
  EXPECT_FALSE(pool.HasRoom());
  pool.Release(*jobs[0]);
  pool.Release(*jobs[0]);  // twice frees one place only
  EXPECT_TRUE(pool.HasRoom());
  jobs.push_back(pool.Submit([](package::DecodeWorkspace&, DecodeJob&) { return true; }));
  EXPECT_FALSE(pool.HasRoom());
  EXPECT_EQ(pool.PeakInFlight(), 3u);
  for (auto& job : jobs)
    EXPECT_TRUE(WaitEnded(pool, *job));
}

TEST(DecoderPool, ProgressIsHandedOverInOrderEachValueOnce) {
  DecoderPool pool(1, 1, {});
  auto job = pool.Submit([](package::DecodeWorkspace&, DecodeJob& self) {
    for (const std::int32_t p : {3, 3, 4, 7, 7, 7, 9})
      self.Publish(p);
    return true;
  });
  std::vector<std::int32_t> progress;
  ASSERT_TRUE(WaitEnded(pool, *job, &progress));
  EXPECT_EQ(progress, (std::vector<std::int32_t>{3, 4, 7, 9}));
}

TEST(DecoderPool, AFailureIsKeptWithItsEntryAndStopsOnlyTheEntriesAfterIt) {
  DecoderPool pool(2, 8, {});
  std::atomic<bool> failed{false};
  std::atomic<int> laterRuns{0};
  // The first entry goes on until the failure behind it is known: entries
  // before a failure are still committed and must complete.
  auto first = pool.Submit([&](package::DecodeWorkspace&, DecodeJob& self) {
    EXPECT_TRUE(Eventually([&] { return failed.load(); }));
    EXPECT_FALSE(self.StopRequested());
    return true;
  });
  auto broken = pool.Submit([&](package::DecodeWorkspace&, DecodeJob& self) -> bool {
    self.Fail(std::make_exception_ptr(std::runtime_error("first")));
    failed = true;
    throw std::runtime_error("second");
  });
  auto later = pool.Submit(Counted(laterRuns));
  ASSERT_TRUE(WaitEnded(pool, *first));
  EXPECT_TRUE(pool.Completed(*first));
  ASSERT_TRUE(WaitEnded(pool, *broken));
  EXPECT_FALSE(pool.Completed(*broken));
  try {
    std::rethrow_exception(pool.Failure(*broken));
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "first");
  }
  ASSERT_TRUE(WaitEnded(pool, *later));
  EXPECT_FALSE(pool.Completed(*later));
  EXPECT_EQ(laterRuns, 0);
  // Whatever comes after the failure is stopped at once.
  auto after = pool.Submit(Counted(laterRuns));
  ASSERT_TRUE(WaitEnded(pool, *after));
  EXPECT_EQ(laterRuns, 0);
}

TEST(DecoderPool, AStopReachesRunningDecodersAndQueuedEntriesNeverStart) {
  DecoderPool pool(2, 8, {});
  std::atomic<int> running{0};
  std::atomic<int> queuedRuns{0};
  std::vector<std::shared_ptr<DecodeJob>> busy;
  for (int i = 0; i < 2; ++i)
    busy.push_back(pool.Submit([&](package::DecodeWorkspace&, DecodeJob& self) {
      ++running;
      while (!self.StopRequested())
        std::this_thread::sleep_for(1ms);
      return false;
    }));
  auto queued = pool.Submit(Counted(queuedRuns));
  ASSERT_TRUE(Eventually([&] { return running == 2; }));
  pool.StopAndWait();
  for (auto& job : busy) {
    EXPECT_TRUE(WaitEnded(pool, *job));
    EXPECT_FALSE(pool.Completed(*job));
  }
  EXPECT_TRUE(WaitEnded(pool, *queued));
  EXPECT_EQ(queuedRuns, 0);
  auto late = pool.Submit(Counted(queuedRuns));
  EXPECT_TRUE(WaitEnded(pool, *late));
  EXPECT_EQ(queuedRuns, 0);
}

TEST(DecoderPool, GoingAwayStopsWhatIsStillRunning) {
  std::atomic<bool> sawStop{false};
  {
    DecoderPool pool(1, 2, {});
    std::atomic<bool> began{false};
    pool.Submit([&](package::DecodeWorkspace&, DecodeJob& self) {
      began = true;
      while (!self.StopRequested())
        std::this_thread::sleep_for(1ms);
      sawStop = true;
      return false;
    });
    ASSERT_TRUE(Eventually([&] { return began.load(); }));
  }
  EXPECT_TRUE(sawStop);
}

}  // namespace
