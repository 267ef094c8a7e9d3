// Entry points: command-line parsing and the exception barrier around the commands.
#include "unlha32.h"

#include <exception>
#include <new>

#include "cmdline.h"
#include "codes.h"
#include "commands.h"
#include "export.h"
#include "host.h"

namespace tavrun::lzh {

namespace {

bool ParseSwitch(const std::string& s, Options& o) {
  auto flag = [&](const char* name, bool& target) {
    const std::string n = name;
    if (s.size() != n.size() + 2 || s.compare(1, n.size(), n) != 0) return false;
    char v = s.back();
    if (v != '0' && v != '1') return false;
    target = v == '1';
    return true;
  };
  if (flag("c", o.ignoreDates) || flag("n", o.noProgress) || flag("y", o.yes) ||
      flag("t", o.noQuestion) || flag("x", o.directories))
    return true;
  if (s.size() == 4 && s.compare(0, 3, "-ga") == 0 && s[3] >= '0' && s[3] <= '2') {
    o.keepReadOnly = s[3] == '2';
    return true;
  }
  if (s.size() == 4 && s.compare(0, 3, "-jm") == 0 && s[3] >= '0' && s[3] <= '4') {
    static const Method kMethods[] = {Method::Lh0, Method::Lh5, Method::Lh5, Method::Lh6,
                                      Method::Lh7};
    o.method = kMethods[s[3] - '0'];
    return true;
  }
  return false;
}

// Only the first lines can reach the caller's buffer anyway.
constexpr size_t kMaxLines = 32;

// Switches until the first path; every token after it is a path. False when the line is
// refused, with the reason in `out`.
bool ParseCommandLine(const char* commandLine, std::string& command, Options& options,
                      std::vector<std::string>& paths, tavrun::arc::Outcome& out) {
  std::vector<std::string> tokens;
  std::string error;
  if (!tavrun::arc::TokenizeCommandLine(commandLine, tokens, error)) {
    out.Fail(Kind::CommandLine, "bad command line: " + error);
    return false;
  }
  if (tokens.empty()) {
    out.Fail(Kind::CommandLine, "bad command line: no command");
    return false;
  }
  command = tokens[0];
  size_t i = 1;
  for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i) {
    if (!ParseSwitch(tokens[i], options)) {
      out.Fail(Kind::CommandLine, "bad command line: unknown switch " + tokens[i]);
      return false;
    }
  }
  paths.assign(tokens.begin() + static_cast<long>(i), tokens.end());
  for (const auto& p : paths) {
    if (p.empty()) {
      out.Fail(Kind::CommandLine, "bad command line: empty path");
      return false;
    }
  }
  return true;
}

void Run(uintptr_t window, const char* commandLine, tavrun::arc::Outcome& out) {
  std::string command;
  Options options;
  std::vector<std::string> paths;
  if (!ParseCommandLine(commandLine, command, options, paths, out)) return;
  if (command == "U" || command == "u") {
    if (paths.size() < 2) {
      out.Fail(Kind::CommandLine, "bad command line: U needs an archive and at least one file");
      return;
    }
    std::vector<std::string> files(paths.begin() + 1, paths.end());
    RunUpdate(window, options, paths[0], files, out);
  } else if (command == "E" || command == "e") {
    if (paths.size() != 2) {
      out.Fail(Kind::CommandLine,
               "bad command line: E needs an archive and a destination directory");
      return;
    }
    RunExtract(window, options, paths[0], paths[1], out);
  } else {
    out.Fail(Kind::CommandLine, "bad command line: unknown command " + command);
  }
}

}  // namespace
}  // namespace tavrun::lzh

TAVRUN_ARC_EXPORT int32_t Unlha(uintptr_t window, const char* commandLine, char* output,
                                uint32_t outputSize) {
  using tavrun::arc::Kind;
  tavrun::arc::Outcome out(tavrun::lzh::kMaxLines);
  try {
    tavrun::lzh::Run(window, commandLine, out);
  } catch (const std::bad_alloc&) {
    out.Abort(Kind::Internal, "out of memory");
  } catch (const std::exception& e) {
    out.Abort(Kind::Internal, std::string("unexpected error: ") + e.what());
  } catch (...) {
    out.Abort(Kind::Internal, "unexpected error");
  }
  try {
    tavrun::arc::WriteOutput(output, outputSize, out.Text());
  } catch (...) {
    if (output && outputSize) output[0] = '\0';
  }
  return out.Code(tavrun::lzh::kCodes);
}

TAVRUN_ARC_EXPORT int32_t UnlhaCheckArchive(const char* path, int32_t mode) {
  try {
    return path && tavrun::lzh::CheckArchive(path, mode) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

TAVRUN_ARC_EXPORT void TavrunSetHost(const TavrunHost* host) {
  tavrun::arc::SetHost(host);
}
