#include "engine/batch.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace tavrun {
namespace {

// Groups in the order of their first item, each holding its items in list order. Taking
// groups in that order keeps the finished items close to the delivery point, so few results
// wait for an earlier one.
std::deque<std::vector<size_t>> FormGroups(const std::vector<std::string>& keys) {
  std::deque<std::vector<size_t>> groups;
  std::unordered_map<std::string, size_t> groupOf;
  for (size_t i = 0; i < keys.size(); ++i) {
    auto [it, added] = groupOf.emplace(keys[i], groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(i);
  }
  return groups;
}

enum class ItemState : unsigned char { Waiting, Ran, NotRun };

struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<size_t>> groups;
  std::vector<ItemState> states;
  unsigned workersLeft = 0;
};

void Worker(Shared& shared, const BatchCallbacks& callbacks, const std::atomic<bool>& stop) {
  for (;;) {
    std::vector<size_t> group;
    {
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.groups.empty()) break;
      group = std::move(shared.groups.front());
      shared.groups.pop_front();
    }
    for (size_t index : group) {
      const bool run = !stop.load();
      if (run) {
        try {
          callbacks.work(index);
        } catch (...) {
        }
      }
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.states[index] = run ? ItemState::Ran : ItemState::NotRun;
      }
      shared.changed.notify_all();
    }
  }
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    --shared.workersLeft;
  }
  shared.changed.notify_all();
}

}  // namespace

size_t RunGrouped(const std::vector<std::string>& keys, unsigned jobs,
                  const BatchCallbacks& callbacks, const std::atomic<bool>& stop) {
  Shared shared;
  shared.groups = FormGroups(keys);
  shared.states.assign(keys.size(), ItemState::Waiting);
  const size_t threadCount = std::max<size_t>(1, std::min<size_t>(jobs, shared.groups.size()));
  shared.workersLeft = static_cast<unsigned>(threadCount);

  std::vector<std::thread> workers;
  workers.reserve(threadCount);
  for (size_t t = 0; t < threadCount; ++t) {
    workers.emplace_back(Worker, std::ref(shared), std::cref(callbacks), std::cref(stop));
  }

  size_t next = 0;
  size_t ran = 0;
  std::unique_lock<std::mutex> lock(shared.mutex);
  for (;;) {
    while (next < keys.size() && shared.states[next] != ItemState::Waiting) {
      const bool itemRan = shared.states[next] == ItemState::Ran;
      const size_t index = next++;
      if (!itemRan) continue;
      ++ran;
      // Delivery may take a while (a log line per item); the workers go on meanwhile.
      lock.unlock();
      if (callbacks.deliver) callbacks.deliver(index);
      lock.lock();
    }
    if (next >= keys.size() || shared.workersLeft == 0) break;
    shared.changed.wait_for(lock, callbacks.tickInterval);
    if (callbacks.tick) {
      lock.unlock();
      callbacks.tick();
      lock.lock();
    }
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
  return ran;
}

unsigned AvailableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

}  // namespace tavrun
