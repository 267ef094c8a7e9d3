// Turns a stream of input into commands: the input is buffered behind the window and parsed
// a stretch at a time, by the near-optimal parser or by lazy matching. A stream can start
// with history (bytes entered in the window, the last of them parsed only to learn prices)
// and end its parse early (bytes beyond only extend matches), which is how a segment of a
// larger input is parsed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "encode_common.h"
#include "encoder.h"
#include "lazy_parser.h"
#include "match_finder.h"
#include "optimal_parser.h"

namespace tavrun::lzh::enc {

class StreamParser {
 public:
  // Receives the commands parsed so far (and may clear them); false stops the parse.
  using Take = std::function<bool(Commands&)>;

  // Starts a stream: the first `history` bytes fed give no commands, and no byte at or beyond
  // `parseEnd` is parsed. The last `warmUp` bytes of the history are parsed all the same, a
  // few times over, so that the parse after them starts from the prices it would have had in
  // a longer stream; the rest is only entered in the window.
  void Begin(Method method, const EncoderTuning& tuning, uint64_t history = 0,
             uint64_t parseEnd = UINT64_MAX, uint64_t warmUp = 0);
  // Appends input and parses what can be parsed without the rest. False once `take` refused.
  bool Feed(const uint8_t* data, size_t size, const Take& take);
  // Parses the rest.
  bool Finish(const Take& take);

 private:
  bool Process(bool final, const Take& take);
  bool EnterHistory(bool final);
  uint32_t Limit() const;

  Params params_{};
  EncoderTuning tuning_;
  MatchFinder mf_;
  OptimalParser optimal_;
  LazyParser lazy_;
  Commands commands_;
  uint64_t base_ = 0;     // input offset of buf[0]
  uint32_t pos_ = 0;      // next position to enter or parse
  uint64_t entered_ = 0;  // positions below are only entered
  uint64_t history_ = 0, parseEnd_ = UINT64_MAX;
  bool stopped_ = false;
};

// The parser this thread kept from its last stream, or a new one: a parser's window and trees
// are large, and a batch of small files would spend more on their page faults than on
// compressing.
std::unique_ptr<StreamParser> TakeThreadParser();
void KeepThreadParser(std::unique_ptr<StreamParser> parser);

}  // namespace tavrun::lzh::enc
