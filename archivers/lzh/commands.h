// The two commands behind Unlha() and the archive check; each records its failures and its
// summary in `out` (codes.h turns the kind into the UNLHA_ code).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder.h"
#include "outcome.h"

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

void RunUpdate(uintptr_t window, const Options& options, const std::string& archive,
               const std::vector<std::string>& files, tavrun::arc::Outcome& out);
void RunExtract(uintptr_t window, const Options& options, const std::string& archive,
                const std::string& destination, tavrun::arc::Outcome& out);
bool CheckArchive(const char* path, int mode);

}  // namespace tavrun::lzh
