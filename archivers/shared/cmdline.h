// Command-line and output-buffer conventions shared by the archiver libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrun::arc {

// Splits a command line into blank-separated tokens. A double-quoted token may hold blanks;
// inside quotes two double quotes stand for one. False (with a reason) on an unclosed quote
// or a NULL line.
bool TokenizeCommandLine(const char* commandLine, std::vector<std::string>& tokens,
                         std::string& error);

// Copies `text` into `output` as a NUL-terminated text of at most `outputSize` bytes, never
// cutting a UTF-8 character. Does nothing when output is NULL or outputSize is 0.
void WriteOutput(char* output, uint32_t outputSize, const std::string& text);

}  // namespace tavrun::arc
