// What tavrun-cli tells about its files: the summary (stdout), the failures (always stderr),
// a JSON line per file with --json, and the members with `list`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_listing.h"
#include "cli/options.h"
#include "engine/file_step.h"

namespace tavrun::cli {

// A file's result with what the log, the summary and the output get.
struct Outcome {
  FileResult result;
  std::vector<LogEntry> log;
  std::vector<MemberInfo> members;  // list
};

void Print(std::FILE* stream, const std::string& text);

class Report {
 public:
  explicit Report(const Options& options) : options_(options) {}

  // One file, in list order: its JSON line or its members, and its place in the summary.
  void Add(const FilePlan& plan, const Outcome& outcome);
  // The counts and the kept and skipped files on stdout, the failures on stderr.
  void PrintSummary(size_t fileCount) const;
  size_t Failed() const { return counts_[static_cast<int>(FileStatus::Failed)]; }

 private:
  void Count(const FilePlan& plan, const Outcome& outcome);
  std::string JsonLine(const FilePlan& plan, const Outcome& outcome) const;

  const Options& options_;
  size_t counts_[4] = {0, 0, 0, 0};
  std::vector<std::string> lines_[4];  // by FileStatus: what the summary lists
};

}  // namespace tavrun::cli
