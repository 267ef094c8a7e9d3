// The public return code of every kind of failure, for Zip() and UnZip(), and the result of one
// library call (the shared outcome).
#pragma once

#include <cstdint>
#include <string>

#include "outcome.h"
#include "tavrun_zip_codes.h"

namespace tavrun::zip {

using tavrun::arc::ErrnoText;
using tavrun::arc::Kind;
using tavrun::arc::Outcome;

// A file too large for LZH is no failure in ZIP (ZIP64), so that kind has no code of its own.
inline constexpr tavrun::arc::CodeTable kCodes = {
    {Kind::None, TAVRUN_ZIP_OK},
    {Kind::CommandLine, TAVRUN_ZIP_E_COMMAND_LINE},
    {Kind::ArchiveOpen, TAVRUN_ZIP_E_ARCHIVE_OPEN},
    {Kind::NotArchive, TAVRUN_ZIP_E_NOT_ARCHIVE},
    {Kind::Data, TAVRUN_ZIP_E_DATA},
    {Kind::Source, TAVRUN_ZIP_E_SOURCE},
    {Kind::Write, TAVRUN_ZIP_E_WRITE},
    {Kind::Cancelled, TAVRUN_ZIP_E_CANCELLED},
    {Kind::Unsafe, TAVRUN_ZIP_E_UNSAFE_PATH},
    {Kind::Kept, TAVRUN_ZIP_E_KEPT_EXISTING},
    {Kind::Internal, TAVRUN_ZIP_E_INTERNAL},
    {Kind::Method, TAVRUN_ZIP_E_UNSUPPORTED},
    {Kind::TooLarge, TAVRUN_ZIP_E_INTERNAL},
    {Kind::Encrypted, TAVRUN_ZIP_E_ENCRYPTED},
    {Kind::Nothing, TAVRUN_ZIP_E_NOTHING},
    {Kind::Password, TAVRUN_ZIP_E_PASSWORD},
    {Kind::Engine, TAVRUN_ZIP_E_ENGINE},
};
static_assert(kCodes.Complete(), "every kind needs a ZIP code");

}  // namespace tavrun::zip
