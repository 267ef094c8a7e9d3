// Runs the files of a batch on several worker threads. Files that share a group key go to one
// worker, in list order; results are handed back on the calling thread in list order, so the
// log and any report read as if the files had been done one by one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tavrun {

struct BatchCallbacks {
  // Does item `index`; runs on a worker thread. Must not throw (a throw is caught and the
  // item counts as run).
  std::function<void(size_t index)> work;
  // Takes the result of item `index`; runs on the calling thread, in increasing index order,
  // only for items that ran.
  std::function<void(size_t index)> deliver;
  // Called on the calling thread about every `tickInterval` while the batch runs (a progress
  // display); may be empty.
  std::function<void()> tick;
  std::chrono::milliseconds tickInterval{100};
};

// Runs items 0 .. keys.size()-1 with at most `jobs` threads (at least one). Once `stop` is
// set, no item is started; running items finish and are delivered. Returns the number of
// items that ran.
size_t RunGrouped(const std::vector<std::string>& keys, unsigned jobs,
                  const BatchCallbacks& callbacks, const std::atomic<bool>& stop);

// The number of processors this process may run on (at least 1).
unsigned AvailableProcessors();

}  // namespace tavrun
