// The encoder's front: input goes to the parser, the parser's commands to the block writer.
#include "encoder.h"

#include <utility>

#include "block_writer.h"
#include "encode_common.h"
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

namespace {

// The parser of the last encoder that finished on this thread: its window and trees are
// large, and a batch of small files would spend more on page faults than on compressing.
thread_local std::unique_ptr<enc::StreamParser> spareParser;

}  // namespace

struct Encoder::Impl {
  enc::BlockWriter writer;
  std::unique_ptr<enc::StreamParser> parser;
  enc::StreamParser::Take take;

  Impl(Method m, Sink sink, const EncoderTuning& t) : writer(m, std::move(sink), t) {
    parser = spareParser ? std::move(spareParser) : std::make_unique<enc::StreamParser>();
    parser->Begin(m, t);
    take = [this](enc::Commands& c) { return writer.Add(c); };
  }
  ~Impl() { spareParser = std::move(parser); }

  bool Feed(const uint8_t* data, size_t size) {
    return !writer.failed() && parser->Feed(data, size, take);
  }
  bool Finish() {
    if (writer.failed() || !parser->Finish(take)) return false;
    return writer.Finish();
  }
};

Encoder::Encoder(Method method, Sink sink, EncoderTuning tuning)
    : impl_(std::make_unique<Impl>(method, std::move(sink), tuning)) {}
Encoder::~Encoder() = default;
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

std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size,
                              EncoderTuning tuning) {
  std::vector<uint8_t> result;
  Encoder enc(
      method,
      [&](const uint8_t* d, size_t n) {
        result.insert(result.end(), d, d + n);
        return true;
      },
      tuning);
  enc.Feed(data, size);
  enc.Finish();
  return result;
}

}  // namespace tavrun::lzh
