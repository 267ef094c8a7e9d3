// Thin wrappers over the archiver libraries' entry points. Each library is loaded by full path
// from the component directory on first use and stays loaded for the life of the process.
// Conventions: every wrapper returns a boolean and leaves a text in `errorText` on failure:
// the library's non-zero return code in decimal, or dlerror()'s description when the library
// or its entry point could not be loaded. Nothing here shows a message or writes the log.
// Every function may be called from several threads at once: the cache of loaded libraries
// is guarded, and each call has its own output buffer.
#pragma once

#include <cstdint>
#include <string>

#include "engine/run_window.h"

namespace tavrun {

// Run one command line through Unlha / Zip / UnZip with a 256-byte output buffer; the owner's
// native window is handed to the library. True exactly when the library returns 0. The
// library's return code goes to `resultCode` when given (left alone when it was not called).
bool ExecUnlha(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
               int32_t* resultCode = nullptr);
bool ExecZip(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
             int32_t* resultCode = nullptr);
bool ExecUnZip(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
               int32_t* resultCode = nullptr);

enum class ArchiverEntry { Unlha, Zip, UnZip };

// Everything one command call tells: `code` is the library's return (-1 when the library or
// its entry point could not be loaded), `errorText` what the boolean wrappers leave, and
// `outputText` the library's own output (the reason of a failure).
struct ArchiverResult {
  int32_t code = -1;
  std::string errorText;
  std::string outputText;
  bool Succeeded() const { return code == 0; }
};

// The same call as the wrappers above, for callers without a RunWindow (window 0: no dialog,
// nobody asked) or that need the library's output text.
ArchiverResult CallArchiver(ArchiverEntry entry, uintptr_t window, const std::string& commandLine);

// Ask UnlhaCheckArchive / UnZipCheckArchive about a file. True exactly when the library answers
// 1; a plain "no" leaves `errorText` untouched.
bool CheckUnlhaArchive(const std::string& path, int32_t mode, std::string& errorText);
bool CheckUnZipArchive(const std::string& path, int32_t mode, std::string& errorText);

// The archive test mode the operations use.
inline constexpr int32_t ArchiveCheckMode = 1;

// Size of the output buffer handed to the command entry points.
inline constexpr uint32_t ArchiverOutputSize = 256;

}  // namespace tavrun
