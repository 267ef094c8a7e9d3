// Entry points: command-line parsing and the exception barrier around the commands.
#include "unlha32.h"

#include <exception>
#include <new>

#include "cmdline.h"
#include "commands.h"

namespace tavrun::lzh {

void Outcome::Fail(int code, const std::string& reason) {
  if (code_ == 0) code_ = code;
  Note(reason);
}

void Outcome::Note(const std::string& text) {
  // Only the first lines can reach the caller's buffer anyway.
  if (lines_.size() < 32) lines_.push_back(text);
}

std::string Outcome::Text(const std::string& summary) const {
  std::string t = summary;
  for (const auto& l : lines_) {
    if (!t.empty()) t += '\n';
    t += l;
  }
  return t;
}

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

int Run(uintptr_t window, const char* commandLine, std::string& message) {
  std::vector<std::string> tokens;
  std::string error;
  if (!tavrun::arc::TokenizeCommandLine(commandLine, tokens, error)) {
    message = "bad command line: " + error;
    return UNLHA_ERROR_COMMAND;
  }
  if (tokens.empty()) {
    message = "bad command line: no command";
    return UNLHA_ERROR_COMMAND;
  }
  const std::string command = tokens[0];
  Options options;
  size_t i = 1;
  for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i) {
    if (!ParseSwitch(tokens[i], options)) {
      message = "bad command line: unknown switch " + tokens[i];
      return UNLHA_ERROR_COMMAND;
    }
  }
  std::vector<std::string> paths(tokens.begin() + static_cast<long>(i), tokens.end());
  for (const auto& p : paths) {
    if (p.empty()) {
      message = "bad command line: empty path";
      return UNLHA_ERROR_COMMAND;
    }
  }
  if (command == "U" || command == "u") {
    if (paths.size() < 2) {
      message = "bad command line: U needs an archive and at least one file";
      return UNLHA_ERROR_COMMAND;
    }
    std::vector<std::string> files(paths.begin() + 1, paths.end());
    return RunUpdate(window, options, paths[0], files, message);
  }
  if (command == "E" || command == "e") {
    if (paths.size() != 2) {
      message = "bad command line: E needs an archive and a destination directory";
      return UNLHA_ERROR_COMMAND;
    }
    return RunExtract(window, options, paths[0], paths[1], message);
  }
  message = "bad command line: unknown command " + command;
  return UNLHA_ERROR_COMMAND;
}

}  // namespace
}  // namespace tavrun::lzh

extern "C" UNLHA32_API int32_t Unlha(uintptr_t window, const char* commandLine, char* output,
                                     uint32_t outputSize) {
  std::string message;
  int32_t rc;
  try {
    rc = tavrun::lzh::Run(window, commandLine, message);
  } catch (const std::bad_alloc&) {
    message = "out of memory";
    rc = UNLHA_ERROR_INTERNAL;
  } catch (const std::exception& e) {
    message = std::string("unexpected error: ") + e.what();
    rc = UNLHA_ERROR_INTERNAL;
  } catch (...) {
    message = "unexpected error";
    rc = UNLHA_ERROR_INTERNAL;
  }
  try {
    tavrun::arc::WriteOutput(output, outputSize, message);
  } catch (...) {
    if (output && outputSize) output[0] = '\0';
  }
  return rc;
}

extern "C" UNLHA32_API int32_t UnlhaCheckArchive(const char* path, int32_t mode) {
  try {
    return path && tavrun::lzh::CheckArchive(path, mode) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
