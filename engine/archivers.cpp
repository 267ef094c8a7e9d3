#include "engine/archivers.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>

#include "app/runtime.h"
#include "archivers/shared/include/tavrun_host.h"
#include "common/paths.h"
#include "engine/host.h"

namespace tavrun {
namespace {

using ExecEntry = int32_t (*)(uintptr_t window, const char* commandLine, char* output,
                              uint32_t outputSize);
using CheckEntry = int32_t (*)(const char* path, int32_t mode);

// Handles and entry points by full path. Keyed by path rather than by library so that a test
// pointing the component directory elsewhere gets the library found there.
std::map<std::string, void*>& LoadedLibraries() {
  static std::map<std::string, void*> libraries;
  return libraries;
}
std::map<std::string, void*>& ResolvedEntries() {
  static std::map<std::string, void*> entries;
  return entries;
}

// dlopen, dlsym and dlerror are thread-safe themselves, but the two caches and the pairing
// of a failed call with its dlerror() text are not.
std::mutex& CacheMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string TakeDlError(const char* fallback) {
  const char* text = dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

// The entry point `symbol` of `libraryFile` in the component directory, or nullptr with the
// platform's description of what went wrong. A failed load is retried on the next call, so a
// library installed while the program runs is found.
void* Entry(const char* libraryFile, const char* symbol, std::string& errorText) {
  std::lock_guard<std::mutex> lock(CacheMutex());
  std::string dirError;
  std::string directory = GetSysDir(dirError);
  if (directory.empty() && !dirError.empty()) {
    errorText = dirError;
    return nullptr;
  }
  std::string ignored;
  const std::string path = AddBackslash(directory, ignored) + libraryFile;
  const std::string entryKey = path + '\n' + symbol;
  auto& entries = ResolvedEntries();
  if (auto found = entries.find(entryKey); found != entries.end()) return found->second;

  auto& libraries = LoadedLibraries();
  void* handle = nullptr;
  if (auto found = libraries.find(path); found != libraries.end()) {
    handle = found->second;
  } else {
    dlerror();
    // RTLD_NOW: a library whose own dependencies are missing fails here, with their name in
    // the text, instead of at its first call.
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      errorText = TakeDlError("cannot load library");
      return nullptr;
    }
    libraries.emplace(path, handle);
    // The library's host from its first call on: the run's cancel, memory and reports.
    if (auto setHost =
            reinterpret_cast<TavrunSetHostFunction>(dlsym(handle, TAVRUN_SET_HOST_SYMBOL))) {
      setHost(HostTable());
    }
  }
  dlerror();
  void* address = dlsym(handle, symbol);
  if (address == nullptr) {
    errorText = TakeDlError("entry point not found");
    return nullptr;
  }
  entries.emplace(entryKey, address);
  return address;
}

ArchiverResult Call(const char* libraryFile, const char* symbol, uintptr_t window,
                    const std::string& commandLine) {
  ArchiverResult result;
  try {
    auto entry = reinterpret_cast<ExecEntry>(Entry(libraryFile, symbol, result.errorText));
    if (entry == nullptr) return result;
    char output[ArchiverOutputSize] = {};
    result.code = entry(window, commandLine.c_str(), output, ArchiverOutputSize);
    // The contract promises a terminated text; a library breaking it must not make us read on.
    result.outputText.assign(output, strnlen(output, ArchiverOutputSize));
    if (result.code != 0) result.errorText = std::to_string(result.code);
  } catch (const std::exception& e) {
    result.code = -1;
    result.errorText = e.what();
  }
  return result;
}

bool Exec(const char* libraryFile, const char* symbol, const RunWindow& owner,
          const std::string& commandLine, std::string& errorText, int32_t* resultCode) {
  try {
    ArchiverResult result = Call(libraryFile, symbol, owner.NativeHandle(), commandLine);
    if (resultCode != nullptr) *resultCode = result.code;
    if (result.Succeeded()) return true;
    errorText = std::move(result.errorText);
    return false;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool Check(const char* libraryFile, const char* symbol, const std::string& path, int32_t mode,
           std::string& errorText) {
  try {
    auto entry = reinterpret_cast<CheckEntry>(Entry(libraryFile, symbol, errorText));
    if (entry == nullptr) return false;
    return entry(path.c_str(), mode) == 1;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

}  // namespace

bool ExecUnlha(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
               int32_t* resultCode) {
  return Exec(UnlhaLibraryName, "Unlha", owner, commandLine, errorText, resultCode);
}

bool ExecZip(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
             int32_t* resultCode) {
  return Exec(ZipjLibraryName, "Zip", owner, commandLine, errorText, resultCode);
}

bool ExecUnZip(const RunWindow& owner, const std::string& commandLine, std::string& errorText,
               int32_t* resultCode) {
  return Exec(UnzipLibraryName, "UnZip", owner, commandLine, errorText, resultCode);
}

ArchiverResult CallArchiver(ArchiverEntry entry, uintptr_t window, const std::string& commandLine) {
  switch (entry) {
    case ArchiverEntry::Unlha: return Call(UnlhaLibraryName, "Unlha", window, commandLine);
    case ArchiverEntry::Zip: return Call(ZipjLibraryName, "Zip", window, commandLine);
    case ArchiverEntry::UnZip: return Call(UnzipLibraryName, "UnZip", window, commandLine);
  }
  return {};
}

bool CheckUnlhaArchive(const std::string& path, int32_t mode, std::string& errorText) {
  return Check(UnlhaLibraryName, "UnlhaCheckArchive", path, mode, errorText);
}

bool CheckUnZipArchive(const std::string& path, int32_t mode, std::string& errorText) {
  return Check(UnzipLibraryName, "UnZipCheckArchive", path, mode, errorText);
}

}  // namespace tavrun
