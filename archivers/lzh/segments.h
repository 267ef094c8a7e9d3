// One input parsed by several threads. The input is cut into segments of a fixed size; each
// is parsed on its own, with the window before it entered as history, so that its commands
// depend on its bytes and the window's alone and never on which thread parsed it or when.
// The commands are then handed on in input order. A single thread runs the same parses one
// after another: the output is the same whatever the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "encode_common.h"
#include "encoder.h"

namespace tavrun::lzh::enc {

class StreamParser;
class WorkerPool;

class SegmentedParse {
 public:
  // Receives each segment's commands in input order; false stops everything.
  using Deliver = std::function<bool(const Commands&)>;
  SegmentedParse(Method method, const EncoderTuning& tuning, unsigned threads, Deliver deliver);
  // Cancels the segments still being parsed and waits for their threads.
  ~SegmentedParse();
  SegmentedParse(const SegmentedParse&) = delete;
  SegmentedParse& operator=(const SegmentedParse&) = delete;

  void SetPoll(Encoder::Poll poll) { poll_ = std::move(poll); }
  // For tests, set before the first Feed: called on the thread that parses segment `index`
  // (0, 1, ... in input order) as it starts and as it ends, to see which ones run at once.
  using SegmentHook = std::function<void(size_t index, bool started)>;
  void SetSegmentHook(SegmentHook hook) { hook_ = std::move(hook); }
  bool Feed(const uint8_t* data, size_t size);
  // Parses the last segment and delivers everything still in flight.
  bool Finish();

  struct Job;

 private:
  void Dispatch(size_t length, bool last);
  bool DeliverOldest();

  Method method_;
  EncoderTuning tuning_;
  unsigned threads_;
  Deliver deliver_;
  Encoder::Poll poll_;
  SegmentHook hook_;
  size_t dispatched_ = 0;  // segments handed on so far
  uint64_t parsed_ = 0;    // input bytes delivered
  uint32_t window_;
  // The window before the segment being collected (`history_` bytes), the segment and
  // whatever arrived beyond it.
  std::vector<uint8_t> fill_;
  size_t history_ = 0;
  bool stopped_ = false;
  std::deque<std::unique_ptr<Job>> inFlight_;  // by input order
  std::unique_ptr<WorkerPool> pool_;
};

}  // namespace tavrun::lzh::enc
