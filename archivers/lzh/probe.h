// Whether parsing a stretch can pay: data that does not compress (photos, archives, random
// bytes) costs the parser as much as text and gains nothing from copies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrun::lzh::enc {

// False when a quick deflate of `data` comes out no more than 2 % smaller than coding its
// bytes one by one at their own frequencies would: the copies a full parse could find are
// then worth too little to look for, and the bytes are coded as literals.
bool ParsingPays(const uint8_t* data, size_t size);

}  // namespace tavrun::lzh::enc
