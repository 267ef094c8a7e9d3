// The run's password: from --password-file, or asked once on the terminal. It reaches the
// libraries only through the host (RunSession), never through a command line, and it is
// wiped when the run ends.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace tavrun {
class RunSession;
}

namespace tavrun::cli {

// The first line of `file` without its line end. False with the reason in `errorText`
// (which never holds any of the file's content).
bool ReadPasswordFile(const std::string& file, std::string& password, std::string& errorText);

// Answers the libraries' questions for one run.
class RunPassword {
 public:
  // `known`: the password read from a file ("" for none). `mayAsk`: standard input is a
  // terminal, so the first archive that needs one asks there.
  RunPassword(std::string known, bool mayAsk);
  ~RunPassword();
  RunPassword(const RunPassword&) = delete;
  RunPassword& operator=(const RunPassword&) = delete;

  // Makes `session` ask this object; with `remember`, the session also keeps the password for
  // compression, which recalls it rather than asks.
  void Attach(RunSession& session, bool remember);

  // A TAVRUN_PASSWORD_* answer. A wrong password is given again (the library then reports it
  // wrong): the terminal asks once per run, as promised in the help.
  int32_t Answer(std::string& password);

 private:
  std::mutex mutex_;
  std::string password_;
  bool mayAsk_;
  bool asked_ = false;
};

}  // namespace tavrun::cli
