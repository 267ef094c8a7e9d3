#include "cli/report.h"

#include "cli/json_line.h"
#include "cli/messages.h"
#include "engine/reasons.h"

namespace tavrun::cli {
namespace {

using Result = FileStatus;

const char* StatusName(Result status) {
  switch (status) {
    case Result::Done: return "done";
    case Result::Kept: return "kept";
    case Result::Skipped: return "skipped";
    case Result::Failed: break;
  }
  return "failed";
}

// A library's text may run over several lines; they stay under their file in the summary.
std::string Indented(const std::string& text) {
  std::string result;
  for (char c : text) {
    result += c;
    if (c == '\n') result += "    ";
  }
  while (!result.empty() && (result.back() == ' ' || result.back() == '\n')) result.pop_back();
  return result;
}

std::string MembersJson(const std::vector<MemberInfo>& members) {
  std::string json = "[";
  for (const MemberInfo& member : members) {
    if (json.size() > 1) json += ",";
    json += JsonObject()
                .Add("name", member.name)
                .Add("size", static_cast<int64_t>(member.size))
                .Add("packed", static_cast<int64_t>(member.packed))
                .Add("date", DateText(member.mtime))
                .Add("method", member.method)
                .Text();
  }
  return json + "]";
}

}  // namespace

void Print(std::FILE* stream, const std::string& text) {
  std::fprintf(stream, "%s\n", text.c_str());
}

void Report::Add(const FilePlan& plan, const Outcome& outcome) {
  Count(plan, outcome);
  if (options_.json) {
    Print(stdout, JsonLine(plan, outcome));
  } else if (options_.command == Command::List && outcome.result.status == Result::Done) {
    // The listing is what the command is for, so -q keeps it.
    Print(stdout, plan.source + ":");
    std::fputs(MemberLines(outcome.members).c_str(), stdout);
  }
}

std::string Report::JsonLine(const FilePlan& plan, const Outcome& outcome) const {
  const FileResult& result = outcome.result;
  JsonObject line;
  line.Add("file", plan.source)
      .Add("archive", options_.command == Command::Compress ? plan.archive : plan.source)
      .Add("status", StatusName(result.status))
      .Add("code", static_cast<int64_t>(result.code))
      .Add("reason", ReasonText(result, false));
  if (options_.command == Command::List && result.status == Result::Done) {
    line.AddJson("members", MembersJson(outcome.members));
  }
  return line.Text();
}

// One summary line per file that was not simply done.
void Report::Count(const FilePlan& plan, const Outcome& outcome) {
  const FileResult& result = outcome.result;
  const int r = static_cast<int>(result.status);
  ++counts_[r];
  if (result.status == Result::Done) return;
  std::string line = plan.source;
  const std::string reason = ReasonText(result, LocaleWantsJapanese());
  if (!reason.empty()) line += ": " + Indented(reason);
  if (result.status != Result::Skipped && result.code > 0) {
    line += " (" + std::to_string(result.code) + ")";
  }
  lines_[r].push_back(line);
}

void Report::PrintSummary(size_t fileCount) const {
  auto count = [&](Result r) { return std::to_string(counts_[static_cast<int>(r)]); };
  const auto& failed = lines_[static_cast<int>(Result::Failed)];
  const bool summary = !options_.quiet && !options_.json;
  if (summary) {
    Print(stdout,
          Text(Msg::Summary, {std::to_string(fileCount), count(Result::Done), count(Result::Kept),
                              count(Result::Skipped), count(Result::Failed)}));
    const std::pair<Result, Msg> sections[] = {{Result::Kept, Msg::KeptHeading},
                                               {Result::Skipped, Msg::SkippedHeading}};
    for (const auto& [result, heading] : sections) {
      const auto& lines = lines_[static_cast<int>(result)];
      if (lines.empty()) continue;
      Print(stdout, Text(heading));
      for (const std::string& line : lines) Print(stdout, "  " + line);
    }
  }
  // Failures go to standard error in every mode, so a script sees them whatever it reads.
  if (failed.empty()) return;
  std::fflush(stdout);
  if (summary) Print(stderr, Text(Msg::FailedHeading));
  for (const std::string& line : failed) Print(stderr, (summary ? "  " : "") + line);
}

}  // namespace tavrun::cli
