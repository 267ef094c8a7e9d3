#include "segments.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "compressibility.h"
#include "match_finder.h"
#include "stream_parser.h"

namespace tavrun::lzh::enc {

// Bytes of the next segment a segment is parsed with: enough that every match inside the
// segment can run to full length, as if the input went on.
constexpr size_t kSegmentLookahead = kMinLookahead;
// The end of the previous segment parsed again before a segment (several passes, see
// stream_parser.cpp), only for the prices its parse gives: from guessed prices a parse takes
// long to find codes as good as those a long stream carries along. Two or four stretches
// parsed once did no better than one parsed several times, at two to four times the cost.
constexpr size_t kWarmUp = kStretch;
// A segment is looked at in pieces of this size to find what is not worth parsing, and
// literals are taken only for runs of at least kShortestLiterals.
constexpr size_t kLookPiece = 256u << 10;
constexpr size_t kShortestLiterals = 512u << 10;

struct SegmentedParse::Job {
  std::vector<uint8_t> data;  // history, the segment, then lookahead
  size_t index = 0;           // in input order
  size_t history = 0, length = 0;
  Commands commands;
  bool done = false;
};

namespace {

// A part of a segment, parsed or taken as literals.
struct Span {
  size_t start, length;  // in the segment
  bool parse;
};

// Adds `span` to `spans`, joined to the last one when of the same kind.
void Append(std::vector<Span>& spans, const Span& span) {
  if (!spans.empty() && spans.back().parse == span.parse)
    spans.back().length += span.length;
  else
    spans.push_back(span);
}

// Which stretches of the segment are worth parsing. A photo or an archive inside a larger file
// costs a parse as much as text does and saves nothing; such stretches go as literals. Each
// piece is looked at with the window before it, so copies from there count. A literal stretch
// must be long enough to pay for the parse that starts again after it (its first prices are
// guessed: a few hundred bytes), so short ones are parsed with their neighbours.
std::vector<Span> PlanSpans(const SegmentedParse::Job& job, Method method) {
  const uint32_t window = ParamsFor(method).window;
  std::vector<Span> runs;
  for (size_t at = 0; at < job.length; at += kLookPiece) {
    const size_t length = std::min(kLookPiece, job.length - at);
    tavrun::arc::CompressibilityProbe probe(window);
    const double worth = tavrun::arc::kWorthSaving * static_cast<double>(length);
    probe.StopOnceSaved(2 * worth);
    const bool parse =
        !probe.Look(job.data.data(), job.history + at, length) || probe.SavedBytes() >= worth;
    Append(runs, {at, length, parse});
  }
  std::vector<Span> merged;
  for (Span r : runs) {
    if (!r.parse && r.length < kShortestLiterals && r.length < job.length) r.parse = true;
    Append(merged, r);
  }
  return merged;
}

// Parses one segment with `parser`; `cancelled` stops it between stretches.
void ParseSegment(StreamParser& parser, Method method, const EncoderTuning& tuning,
                  SegmentedParse::Job& job, const std::atomic<bool>& cancelled,
                  const SegmentedParse::SegmentHook& hook) {
  if (hook) hook(job.index, true);
  const StreamParser::Take take = [&](Commands& c) {
    job.commands.codes.insert(job.commands.codes.end(), c.codes.begin(), c.codes.end());
    job.commands.distances.insert(job.commands.distances.end(), c.distances.begin(),
                                  c.distances.end());
    return !cancelled.load(std::memory_order_relaxed);
  };
  const size_t keep = std::max<size_t>(ParamsFor(method).window, kWarmUp);
  for (const Span& r : PlanSpans(job, method)) {
    const size_t start = job.history + r.start;
    if (!r.parse) {
      job.commands.codes.insert(job.commands.codes.end(), job.data.begin() + ptrdiff_t(start),
                                job.data.begin() + ptrdiff_t(start + r.length));
      job.commands.distances.insert(job.commands.distances.end(), r.length, 0);
      continue;
    }
    // A parse of its own, with the window and the warm-up before it as history, exactly as a
    // segment starts (a segment keeps no more than that: one of one run is parsed as before).
    const size_t history = std::min(start, keep);
    const size_t end = std::min(job.data.size(), start + r.length + kSegmentLookahead);
    parser.Begin(method, tuning, history, history + r.length, kWarmUp);
    if (!parser.Feed(job.data.data() + (start - history), end - (start - history), take) ||
        !parser.Finish(take))
      break;
  }
  // The input is no longer needed once parsed; only the commands wait for their turn.
  std::vector<uint8_t>().swap(job.data);
  if (hook) hook(job.index, false);
}

}  // namespace

class WorkerPool {
 public:
  WorkerPool(Method method, const EncoderTuning& tuning, unsigned threads,
             const SegmentedParse::SegmentHook& hook)
      : method_(method), tuning_(tuning), hook_(hook) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~WorkerPool() {
    cancelled_ = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  void Submit(SegmentedParse::Job* job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(job);
    }
    wake_.notify_one();
  }
  // Waits up to `timeout` for `job`; true once it is done.
  bool Wait(SegmentedParse::Job* job, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return job->done; });
  }

 private:
  void Work() {
    StreamParser parser;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      SegmentedParse::Job* job = queue_.front();
      queue_.pop_front();
      lock.unlock();
      ParseSegment(parser, method_, tuning_, *job, cancelled_, hook_);
      lock.lock();
      job->done = true;
      done_.notify_all();
    }
  }

  Method method_;
  EncoderTuning tuning_;
  const SegmentedParse::SegmentHook& hook_;  // the owner's, which outlives the pool
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<SegmentedParse::Job*> queue_;
  bool stop_ = false;
  std::atomic<bool> cancelled_{false};
};

SegmentedParse::SegmentedParse(Method method, const EncoderTuning& tuning, unsigned threads,
                               Deliver deliver)
    : method_(method),
      tuning_(tuning),
      threads_(std::max(1u, threads)),
      deliver_(std::move(deliver)),
      window_(ParamsFor(method).window) {
  // The segment must hold a whole window of history for the next one.
  tuning_.segmentBytes = std::max(tuning_.segmentBytes, window_);
}

SegmentedParse::~SegmentedParse() {
  pool_.reset();  // cancels and joins before the jobs go
}

bool SegmentedParse::Feed(const uint8_t* data, size_t size) {
  const size_t segment = tuning_.segmentBytes;
  while (size > 0 && !stopped_) {
    // Appended a segment at a time, so that the buffer never holds more than one.
    const size_t want = history_ + segment + kSegmentLookahead;
    const size_t n = std::min(size, want - std::min(want, fill_.size()));
    fill_.insert(fill_.end(), data, data + n);
    data += n;
    size -= n;
    if (fill_.size() >= want) Dispatch(segment, false);
  }
  return !stopped_;
}

bool SegmentedParse::Finish() {
  if (!stopped_ && fill_.size() > history_) Dispatch(fill_.size() - history_, true);
  while (!stopped_ && !inFlight_.empty()) DeliverOldest();
  return !stopped_;
}

// Hands the segment of `length` bytes after the history on, with the bytes beyond it.
void SegmentedParse::Dispatch(size_t length, bool last) {
  auto job = std::make_unique<Job>();
  job->index = dispatched_++;
  const size_t used = history_ + length;
  const size_t take = last ? fill_.size() : used + kSegmentLookahead;
  job->data.assign(fill_.begin(), fill_.begin() + static_cast<ptrdiff_t>(take));
  job->history = history_;
  job->length = length;
  // The next segment's history: the window at this one's end, and the stretch parsed again.
  const size_t keep = std::min<size_t>(std::max<size_t>(window_, kWarmUp), used);
  fill_.erase(fill_.begin(), fill_.begin() + static_cast<ptrdiff_t>(used - keep));
  history_ = keep;
  if (threads_ == 1 || (last && inFlight_.empty())) {
    // Nothing to share the work with: parsed here, on the parser this thread keeps.
    std::unique_ptr<StreamParser> parser = TakeThreadParser();
    const std::atomic<bool> never{false};
    ParseSegment(*parser, method_, tuning_, *job, never, hook_);
    KeepThreadParser(std::move(parser));
    job->done = true;
    inFlight_.push_back(std::move(job));
    DeliverOldest();
    return;
  }
  if (!pool_) pool_ = std::make_unique<WorkerPool>(method_, tuning_, threads_, hook_);
  pool_->Submit(job.get());
  inFlight_.push_back(std::move(job));
  // A few segments in flight: one per thread and one more, so that a thread finds the next
  // segment waiting while this one delivers.
  while (!stopped_ && inFlight_.size() > threads_ + 1) DeliverOldest();
}

bool SegmentedParse::DeliverOldest() {
  Job* job = inFlight_.front().get();
  // The caller hears how far the parse is and can cancel while the threads work.
  while (pool_ && !pool_->Wait(job, std::chrono::milliseconds(50)))
    if (poll_ && !poll_(parsed_)) {
      stopped_ = true;
      return false;
    }
  parsed_ += job->length;
  if (!deliver_(job->commands) || (poll_ && !poll_(parsed_))) stopped_ = true;
  inFlight_.pop_front();
  return !stopped_;
}

}  // namespace tavrun::lzh::enc
