// The link's own guarantees, each with the window's thread played by the test's.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/job/job_link.h"
#include "tests/support/job_window.h"

namespace {

using quillet::JobLink;
using quillet::StopToken;
using quillet::testing::JobWindow;

// Posted and Sent calls reach the window in the order the job made them, and
// the done call comes last.
TEST(JobLinkTest, CallsArriveInOrderAndDoneLast) {
  JobWindow window;
  JobLink link(window.Doorbell());
  std::vector<int> seen;
  const auto posted = link.Posted<int>([&](int i) { seen.push_back(i); });
  const auto sent = link.Sent<int>([&](int i) { seen.push_back(i); });
  ASSERT_TRUE(link.Start<int>(
      [&](StopToken) {
        for (int i = 0; i < 3000; ++i) (i % 7 == 0 ? sent : posted)(i);
        return 3000;
      },
      [&](int& last) { seen.push_back(last); }));
  window.ServeUntilDone(link);
  ASSERT_EQ(seen.size(), 3001u);
  for (int i = 0; i <= 3000; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
}

// Progress that the window has not taken yet is replaced, never queued: the
// job goes on without the window, and the window sees the newest only. Once
// taken, nothing of it is left waiting: what the job makes next comes after
// the calls it made before.
TEST(JobLinkTest, LatestKeepsOnlyTheNewest) {
  JobWindow window;
  JobLink link(window.Doorbell());
  std::vector<int> seen;
  std::promise<void> allMade, taken, madeMore;
  const auto latest = link.Latest<int>([&](int i) {
    seen.push_back(i);
    if (seen.size() != 1) return;
    taken.set_value();
    madeMore.get_future().wait();
  });
  const auto posted = link.Posted<int>([&](int i) { seen.push_back(i); });
  ASSERT_TRUE(link.Start<int>(
      [&](StopToken) {
        for (int i = 0; i < 10000; ++i) latest(i);
        posted(-2);
        allMade.set_value();
        taken.get_future().wait();
        latest(10000);
        posted(-3);
        madeMore.set_value();
        return 0;
      },
      [&](int&) { seen.push_back(-1); }));
  allMade.get_future().wait();
  window.ServeUntilDone(link);
  EXPECT_EQ(seen, (std::vector<int>{9999, -2, 10000, -3, -1}));
}

// However fast the job queues, it rings once, and one serving ends with its
// slice and says that calls are left, so that the window's own events come in
// between; nothing is lost or reordered by it.
TEST(JobLinkTest, OneRingAndAServingTakesASlice) {
  std::atomic<int> rings{0};
  JobLink link([&] { ++rings; });
  std::vector<int> seen;
  std::promise<void> allQueued;
  // The first call outlasts the slice on its own.
  const auto posted = link.Posted<int>([&](int i) {
    seen.push_back(i);
    if (i == 0) std::this_thread::sleep_for(JobLink::kSlice);
  });
  ASSERT_TRUE(link.Start<int>(
      [&](StopToken) {
        for (int i = 0; i < 50; ++i) posted(i);
        allQueued.set_value();
        return 50;
      },
      [&](int& last) { seen.push_back(last); }));
  allQueued.get_future().wait();
  EXPECT_EQ(rings, 1);
  EXPECT_TRUE(link.RunPendingCalls());
  EXPECT_EQ(seen.size(), 1u);
  while (link.Busy()) (void)link.RunPendingCalls();
  ASSERT_EQ(seen.size(), 51u);
  for (int i = 0; i <= 50; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
}

// A start while a job runs is refused and its work never begins; once the
// done call has run, the next start is taken.
TEST(JobLinkTest, StartWhileBusyIsRefused) {
  JobWindow window;
  JobLink link(window.Doorbell());
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> began{0};
  auto work = [&](StopToken) {
    ++began;
    released.wait();
    return 0;
  };
  int done = 0;
  ASSERT_TRUE(link.Start<int>(work, [&](int&) { ++done; }));
  EXPECT_FALSE(link.Start<int>(work, [&](int&) { done += 100; }));
  release.set_value();
  window.ServeUntilDone(link);
  EXPECT_EQ(began, 1);
  EXPECT_EQ(done, 1);
  ASSERT_TRUE(link.Start<int>(work, [&](int&) { ++done; }));
  window.ServeUntilDone(link);
  EXPECT_EQ(done, 2);
}

// Closing while the job waits in a call, or has calls queued, neither
// deadlocks nor runs any of them, and no start is taken after it.
TEST(JobLinkTest, ClosingWhileTheJobWaitsRunsNothing) {
  for (int calls = 1; calls < 40; ++calls) {
    SCOPED_TRACE("after " + std::to_string(calls) + " calls");
    JobLink link([] {});
    int ran = 0;
    std::atomic<int> made{0};
    const auto sent = link.Sent<int>([&ran](int) { ++ran; });
    const auto posted = link.Posted<int>([&ran](int) { ++ran; });
    ASSERT_TRUE(link.Start<int>(
        [&](StopToken stop) {
          for (int i = 0; i < calls; ++i, ++made) posted(i);
          while (!stop.StopRequested()) sent(0);
          return 0;
        },
        [&ran](int&) { ++ran; }));
    while (made < calls) std::this_thread::yield();
    link.Close();
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(link.Busy());
    EXPECT_FALSE(link.Start<int>([](StopToken) { return 0; }, [&ran](int&) { ++ran; }));
  }
}

}  // namespace
