// Member names: how we encode a file name for a new member, and how a stored name
// (CP932, UTF-8 or UTF-16, with '\', '/' or 0xFF separators) becomes a UTF-8 path.
#pragma once

#include <cstdint>
#include <string>

#include "header.h"

namespace tavrun::lzh {

// A file name as member name bytes and the code page to record. UTF-8 names are CP932 (932)
// whenever every character has a CP932 code, the characters Unix and Windows tables map
// differently included, else UTF-8 (65001). Names that are not UTF-8 keep their bytes: 932
// when they are CP932, else 0 (no code page is recorded).
void EncodeMemberName(const std::string& name, std::string& bytes, uint32_t& codePage);

// Whether `member` stands for the name that EncodeMemberName gave as `bytes` and `codePage`:
// compared as read back, so a U+301C name finds the member that reads as U+FF5E.
bool SameMemberName(const MemberHeader& member, const std::string& bytes, uint32_t codePage);

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
