// Member names: how we encode a file name for a new member, and how a stored name
// (CP932, UTF-8 or UTF-16, with '\', '/' or 0xFF separators) becomes a UTF-8 path.
#pragma once

#include <cstdint>
#include <string>

#include "header.h"

namespace tavrun::lzh {

// CP932 when the name converts there and back unchanged (code page 932), else the UTF-8
// bytes as they are (65001).
void EncodeMemberName(const std::string& utf8, std::string& bytes, uint32_t& codePage);

// The stored path as UTF-8 with '/' separators. A 0x5C byte that is the second byte of a
// CP932 character stays inside that character; bytes that decode in no code page are kept.
std::string DecodeMemberPath(const MemberHeader& header);

// The decoded path made relative: leading separators, a drive letter ("C:") and a "\\server"
// prefix are dropped, so an absolute name is extracted below the destination.
std::string RelativeMemberPath(const std::string& path);

// A member that stands for a directory: the -lhd- method, or an empty member whose name is
// only a directory (some tools store directories as -lh0- members).
bool IsDirectoryEntry(const MemberHeader& header);

// A member that stands for a symbolic link (a Unix mode saying so, or a Unix tool's
// "name|target").
bool IsSymbolicLink(const MemberHeader& header);

}  // namespace tavrun::lzh
