// The two commands behind Unlha() and the archive check; each returns an UNLHA_ code and
// leaves its summary or reason in `message`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder.h"

namespace tavrun::lzh {

struct Options {
  bool ignoreDates = false;     // -c1
  bool noProgress = false;      // -n1
  bool yes = false;             // -y1: E no question; U archive date
  bool noQuestion = false;      // -t1 (U)
  bool directories = false;     // -x1 (E)
  bool keepReadOnly = false;    // -ga2 (E)
  Method method = Method::Lh5;  // -jm
};

// Collects the outcome of one call: the first failure's code and a few reasons.
class Outcome {
 public:
  void Fail(int code, const std::string& reason);
  void Note(const std::string& text);
  int code() const { return code_; }
  std::string Text(const std::string& summary) const;

 private:
  int code_ = 0;
  std::vector<std::string> lines_;
};

int RunUpdate(uintptr_t window, const Options& options, const std::string& archive,
              const std::vector<std::string>& files, std::string& message);
int RunExtract(uintptr_t window, const Options& options, const std::string& archive,
               const std::string& destination, std::string& message);
bool CheckArchive(const char* path, int mode);

}  // namespace tavrun::lzh
