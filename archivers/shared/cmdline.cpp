#include "cmdline.h"

#include <cstring>

namespace tavrun::arc {

bool TokenizeCommandLine(const char* commandLine, std::vector<std::string>& tokens,
                         std::string& error) {
  tokens.clear();
  if (commandLine == nullptr) {
    error = "command line is missing";
    return false;
  }
  const char* p = commandLine;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (*p != '\0') {
    while (blank(*p)) ++p;
    if (*p == '\0') break;
    std::string token;
    bool quoted = false;
    while (*p != '\0' && (quoted || !blank(*p))) {
      if (*p == '"') {
        if (quoted && p[1] == '"') {  // "" inside quotes is one literal quote
          token += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      token += *p++;
    }
    if (quoted) {
      error = "unclosed double quote in the command line";
      tokens.clear();
      return false;
    }
    tokens.push_back(std::move(token));
  }
  return true;
}

void WriteOutput(char* output, uint32_t outputSize, const std::string& text) {
  if (output == nullptr || outputSize == 0) return;
  size_t n = text.size();
  if (n > outputSize - 1) {
    n = outputSize - 1;
    // Step back over continuation bytes so a multi-byte character is never cut.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(output, text.data(), n);
  output[n] = '\0';
}

}  // namespace tavrun::arc
