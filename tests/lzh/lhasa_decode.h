// liblhasa's decoder on a bare compressed stream, without an archive around it: the
// reference our encoder's and decoder's streams are checked against.
#pragma once

#include <lha_decoder.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "test_util.h"

namespace lzhtest {

// What liblhasa decodes from `packed` with `method` ("-lh5-" ...), up to `length` bytes;
// shorter when it stops early.
inline Bytes LhasaDecode(const std::string& method, const Bytes& packed, size_t length) {
  struct Source {
    const Bytes* data;
    size_t offset;
  } src{&packed, 0};
  auto feed = [](void* buf, size_t len, void* ud) -> size_t {
    auto* s = static_cast<Source*>(ud);
    const size_t n = std::min(len, s->data->size() - s->offset);
    std::memcpy(buf, s->data->data() + s->offset, n);
    s->offset += n;
    return n;
  };
  std::string m = method;
  LHADecoder* d = lha_decoder_new(lha_decoder_for_name(m.data()), feed, &src, length);
  Bytes out(length);
  size_t got = 0;
  for (size_t n; got < length && (n = lha_decoder_read(d, out.data() + got, length - got)) > 0;)
    got += n;
  lha_decoder_free(d);
  out.resize(got);
  return out;
}

}  // namespace lzhtest
