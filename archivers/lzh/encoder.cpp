// The encoder's front: input goes to the parser, the parser's commands to the block writer.
#include "encoder.h"

#include <utility>

#include "block_writer.h"
#include "encode_common.h"
#include "segments.h"
#include "stream_parser.h"

namespace tavrun::lzh {

namespace enc {

Params ParamsFor(Method m) {
  switch (m) {
    case Method::Lh5: return {1u << 13, 14, 4};
    case Method::Lh6: return {1u << 15, 16, 5};
    case Method::Lh7: return {1u << 16, 17, 5};
    default: return {0, 0, 0};
  }
}

}  // namespace enc

const char* MethodId(Method method) {
  switch (method) {
    case Method::Lh0: return "-lh0-";
    case Method::Lh5: return "-lh5-";
    case Method::Lh6: return "-lh6-";
    case Method::Lh7: return "-lh7-";
  }
  return "-lh0-";
}

uint32_t WindowSize(Method method) {
  return enc::ParamsFor(method).window;
}

EncoderTuning DefaultTuning(Method) {
  return EncoderTuning{};
}

struct Encoder::Impl {
  enc::BlockWriter writer;
  // One of the two: an input parsed as one stream, or in segments.
  std::unique_ptr<enc::StreamParser> parser;
  std::unique_ptr<enc::SegmentedParse> segments;
  enc::StreamParser::Take take;

  Impl(Method m, Sink sink, const EncoderTuning& t, unsigned threads)
      : writer(m, std::move(sink), t) {
    if (t.segmentBytes > 0) {
      segments = std::make_unique<enc::SegmentedParse>(
          m, t, threads, [this](const enc::Commands& c) { return writer.Add(c); });
      return;
    }
    parser = enc::TakeThreadParser();
    parser->Begin(m, t);
    take = [this](enc::Commands& c) { return writer.Add(c); };
  }
  ~Impl() {
    if (parser) enc::KeepThreadParser(std::move(parser));
  }

  bool Feed(const uint8_t* data, size_t size) {
    if (writer.failed()) return false;
    return segments ? segments->Feed(data, size) : parser->Feed(data, size, take);
  }
  bool Finish() {
    if (writer.failed() || !(segments ? segments->Finish() : parser->Finish(take))) return false;
    return writer.Finish();
  }
};

Encoder::Encoder(Method method, Sink sink, EncoderTuning tuning, unsigned threads)
    : impl_(std::make_unique<Impl>(method, std::move(sink), tuning, threads)) {}
Encoder::~Encoder() = default;
void Encoder::SetPoll(Poll poll) {
  if (impl_->segments) impl_->segments->SetPoll(std::move(poll));
}
bool Encoder::Feed(const uint8_t* data, size_t size) {
  return impl_->Feed(data, size);
}
bool Encoder::Finish() {
  return impl_->Finish();
}
uint64_t Encoder::compressedSize() const {
  return impl_->writer.compressedSize();
}
uint32_t Encoder::blocks() const {
  return impl_->writer.blocks();
}

std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size, EncoderTuning tuning,
                              unsigned threads) {
  std::vector<uint8_t> result;
  Encoder enc(
      method,
      [&](const uint8_t* d, size_t n) {
        result.insert(result.end(), d, d + n);
        return true;
      },
      tuning, threads);
  enc.Feed(data, size);
  enc.Finish();
  return result;
}

}  // namespace tavrun::lzh
