// A host for the libraries' tests: a run's cancel flag, its memory of "to all" answers and of
// the password, and what the calls reported, behind the table the libraries are handed.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "archivers/shared/include/tavrun_host.h"

namespace tavrun::test {

class TestHost {
 public:
  std::atomic<bool> cancel{false};
  std::string passwordFromHost;  // answered by ask_password when not empty
  std::vector<std::string> written, kept;

  TestHost() {
    table_.size = sizeof(TavrunHost);
    table_.version = TAVRUN_HOST_VERSION;
    table_.context = this;
    table_.cancel_requested = [](void* c) -> int32_t { return Self(c).cancel.load() ? 1 : 0; };
    table_.request_cancel = [](void* c) { Self(c).cancel.store(true); };
    table_.recall_answer = [](void* c, const char* key) -> int32_t {
      std::lock_guard<std::mutex> lock(Self(c).mutex_);
      auto found = Self(c).answers_.find(key);
      return found == Self(c).answers_.end() ? TAVRUN_ANSWER_NONE : found->second;
    };
    table_.remember_answer = [](void* c, const char* key, int32_t answer) {
      std::lock_guard<std::mutex> lock(Self(c).mutex_);
      Self(c).answers_[key] = answer;
    };
    table_.recall_password = [](void* c, char* out, uint32_t size) -> int32_t {
      std::lock_guard<std::mutex> lock(Self(c).mutex_);
      const std::string& kept = Self(c).password_;
      if (kept.empty() || kept.size() >= size) return 0;
      kept.copy(out, kept.size());
      out[kept.size()] = '\0';
      return 1;
    };
    table_.remember_password = [](void* c, const char* password) {
      std::lock_guard<std::mutex> lock(Self(c).mutex_);
      Self(c).password_ = password;
    };
    table_.ask_password = [](void* c, const char*, int32_t, char* out, uint32_t size) -> int32_t {
      const std::string& given = Self(c).passwordFromHost;
      if (given.empty() || given.size() >= size) return TAVRUN_PASSWORD_NONE;
      given.copy(out, given.size());
      out[given.size()] = '\0';
      return TAVRUN_PASSWORD_GIVEN;
    };
    table_.report = [](void* c, int32_t event, const char* path, const char*) {
      std::lock_guard<std::mutex> lock(Self(c).mutex_);
      (event == TAVRUN_EVENT_WRITTEN ? Self(c).written : Self(c).kept).push_back(path);
    };
    table_.threads_per_call = [](void*) -> uint32_t { return 1; };
  }
  const TavrunHost* Table() const { return &table_; }
  bool KeepsPassword() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !password_.empty();
  }

 private:
  static TestHost& Self(void* context) { return *static_cast<TestHost*>(context); }
  TavrunHost table_{};
  std::mutex mutex_;
  std::map<std::string, int32_t> answers_;
  std::string password_;
};

// Hands `table` to the library already loaded under `soname` (several libraries export the
// same entry, so it is found by the library's own handle). False when it is not loaded.
inline bool SetHostOf(const char* soname, const TavrunHost* table) {
  void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  auto set = reinterpret_cast<TavrunSetHostFunction>(dlsym(handle, TAVRUN_SET_HOST_SYMBOL));
  if (set != nullptr) set(table);
  dlclose(handle);
  return set != nullptr;
}

}  // namespace tavrun::test
