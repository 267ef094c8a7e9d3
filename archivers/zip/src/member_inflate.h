// Inflating a deflated member as it is read: ISA-L's inflate over the member's raw bytes, a
// MiB of input and a MiB of output at a time, so memory stays the same whatever the size of
// the member. It takes about a quarter of the CPU of inflating the member whole with
// libdeflate (which also needs the member and its data in memory) and a third of zlib's.
#pragma once

#include <zip.h>

#include "zip_methods.h"

namespace tavrun::zip {

// Reads the compressed bytes of `raw` (opened with ZIP_FL_COMPRESSED) and hands the inflated
// data to `out` until the deflate stream ends. The caller checks the length and the CRC of
// what comes out.
DecodeResult InflateMember(zip_file_t* raw, const ChunkSink& out, std::string& why);

}  // namespace tavrun::zip
