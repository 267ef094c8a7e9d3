// The public return code of every kind of failure, for Unlha().
#pragma once

#include "outcome.h"
#include "unlha32.h"

namespace tavrun::lzh {

using tavrun::arc::Kind;

// Kinds this library never produces (ZIP passwords, an empty update, a companion library) share
// the internal-failure code.
inline constexpr tavrun::arc::CodeTable kCodes = {
    {Kind::None, UNLHA_OK},
    {Kind::CommandLine, UNLHA_ERROR_COMMAND},
    {Kind::ArchiveOpen, UNLHA_ERROR_ARCHIVE},
    {Kind::NotArchive, UNLHA_ERROR_NOT_LZH},
    {Kind::Data, UNLHA_ERROR_DATA},
    {Kind::Source, UNLHA_ERROR_SOURCE},
    {Kind::Write, UNLHA_ERROR_WRITE},
    {Kind::Cancelled, UNLHA_ERROR_CANCELLED},
    {Kind::Unsafe, UNLHA_ERROR_UNSAFE},
    {Kind::Kept, UNLHA_ERROR_KEPT},
    {Kind::Internal, UNLHA_ERROR_INTERNAL},
    {Kind::Method, UNLHA_ERROR_METHOD},
    {Kind::TooLarge, UNLHA_ERROR_TOO_LARGE},
    {Kind::Encrypted, UNLHA_ERROR_INTERNAL},
    {Kind::Nothing, UNLHA_ERROR_INTERNAL},
    {Kind::Password, UNLHA_ERROR_INTERNAL},
    {Kind::Engine, UNLHA_ERROR_INTERNAL},
};
static_assert(kCodes.Complete(), "every kind needs an LZH code");

}  // namespace tavrun::lzh
