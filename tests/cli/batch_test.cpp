// The scheduler under the command-line tool: grouping, list order and stopping.
#include "engine/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

using tavrun::BatchCallbacks;
using tavrun::RunGrouped;

TEST(RunGroupedTest, GroupsStayOnOneWorkerInListOrderAndResultsComeInListOrder) {
  for (unsigned jobs : {1u, 2u, 4u, 64u}) {
    SCOPED_TRACE(jobs);
    std::vector<std::string> keys;
    for (size_t i = 0; i < 300; ++i) keys.push_back("k" + std::to_string(i * i % 17));
    std::mutex mutex;
    std::vector<std::thread::id> threadOf(keys.size());
    std::map<std::string, std::vector<size_t>> startedByKey;
    std::vector<size_t> delivered;
    std::atomic<bool> stop{false};
    BatchCallbacks callbacks;
    callbacks.work = [&](size_t i) {
      std::lock_guard<std::mutex> lock(mutex);
      threadOf[i] = std::this_thread::get_id();
      startedByKey[keys[i]].push_back(i);
    };
    callbacks.deliver = [&](size_t i) { delivered.push_back(i); };
    EXPECT_EQ(RunGrouped(keys, jobs, callbacks, stop), keys.size());

    std::vector<size_t> all(keys.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    EXPECT_EQ(delivered, all);
    for (const auto& [key, started] : startedByKey) {
      EXPECT_TRUE(std::is_sorted(started.begin(), started.end())) << key;
      for (size_t i : started) EXPECT_EQ(threadOf[i], threadOf[started.front()]) << key;
    }
  }
}

TEST(RunGroupedTest, DifferentGroupsRunAtTheSameTime) {
  // Each item waits for the other to start: only two workers at once get both through.
  std::mutex mutex;
  std::condition_variable arrived;
  int started = 0;
  bool bothSeen = true;
  std::atomic<bool> stop{false};
  BatchCallbacks callbacks;
  callbacks.work = [&](size_t) {
    std::unique_lock<std::mutex> lock(mutex);
    ++started;
    arrived.notify_all();
    // The limit only keeps a broken scheduler from hanging the test.
    if (!arrived.wait_for(lock, std::chrono::seconds(60), [&] { return started == 2; })) {
      bothSeen = false;
    }
  };
  EXPECT_EQ(RunGrouped({"a", "b"}, 2, callbacks, stop), 2u);
  EXPECT_TRUE(bothSeen);
}

TEST(RunGroupedTest, StopStartsNoFurtherItemAndDeliversWhatRan) {
  std::vector<std::string> keys = {"a", "a", "a", "a", "a", "a"};
  std::atomic<bool> stop{false};
  std::vector<size_t> delivered;
  BatchCallbacks callbacks;
  callbacks.work = [&](size_t i) {
    if (i == 2) stop = true;
  };
  callbacks.deliver = [&](size_t i) { delivered.push_back(i); };
  EXPECT_EQ(RunGrouped(keys, 3, callbacks, stop), 3u);
  EXPECT_EQ(delivered, (std::vector<size_t>{0, 1, 2}));
}

}  // namespace
