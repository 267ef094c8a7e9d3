// The program's side of the libraries' host contract (archivers/shared/include/tavrun_host.h).
// One table serves every library; it speaks for the run under way, if any. The window and
// tavrun-cli each open a RunSession for their batch and differ only in what they put in it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct TavrunHost;

namespace tavrun {

// What one library call reported about its files (see CallRecorder).
struct CallReport {
  int written = 0;
  std::vector<std::pair<std::string, std::string>> kept;  // path, why
};

// One batch as the libraries see it: its cancel, its memory (a "to all" answer, the password
// that opened an archive), where passwords come from and how many threads a call may use.
// At most one session is open at a time; it is the libraries' host until it is destroyed,
// which forgets and wipes its memory.
class RunSession {
 public:
  // Answers of a password source: the values of TAVRUN_PASSWORD_*.
  using PasswordSource =
      std::function<int32_t(const std::string& archive, bool retry, std::string& password)>;

  RunSession();
  ~RunSession();
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  // The open session, or null.
  static RunSession* Current();

  // Async-signal-safe: only an atomic store.
  void RequestCancel() { cancel_.store(true); }
  bool CancelRequested() const { return cancel_.load(); }

  // Where the libraries get a password before asking through their own dialog.
  void SetPasswordSource(PasswordSource source) { passwordSource_ = std::move(source); }
  // Threads one library call may use (at least 1).
  void SetThreadsPerCall(unsigned threads) { threadsPerCall_.store(threads == 0 ? 1 : threads); }
  unsigned ThreadsPerCall() const { return threadsPerCall_.load(); }

  // For the host table.
  int32_t RecallAnswer(const std::string& key);
  void RememberAnswer(const std::string& key, int32_t answer);
  bool RecallPassword(std::string& password);
  void RememberPassword(const std::string& password);
  int32_t AskPassword(const std::string& archive, bool retry, std::string& password);

 private:
  std::atomic<bool> cancel_{false};
  std::atomic<unsigned> threadsPerCall_{1};
  std::mutex mutex_;
  std::map<std::string, int32_t> answers_;
  std::string password_;
  PasswordSource passwordSource_;
};

// Collects what the libraries report about the call made on this thread while it lives.
class CallRecorder {
 public:
  CallRecorder();
  ~CallRecorder();
  CallRecorder(const CallRecorder&) = delete;
  CallRecorder& operator=(const CallRecorder&) = delete;
  const CallReport& Report() const { return report_; }

  // For the host table: the recorder of the calling thread, or null.
  static CallRecorder* OnThisThread();
  void Add(int32_t event, const char* path, const char* text);

 private:
  CallReport report_;
  CallRecorder* outer_;
};

// The table handed to every library once it is loaded; lives as long as the process.
const TavrunHost* HostTable();

// Overwrites a secret's bytes in a way the compiler may not leave out, then empties it.
void WipeText(std::string& secret);

}  // namespace tavrun
