// The profile (INI) file: "[section]" lines and "key=value" lines, read and updated the way
// the program has always expected of its settings file.
//
// Reading: section and key names compare case-insensitively (ASCII); blanks around names and
// values are ignored; a value enclosed in matching double or single quotes loses them; the
// value ends at its first NUL byte and is cut to `maxBytes` bytes, never inside a UTF-8
// character. A missing file, section or key, or a file that cannot be read, reads as "".
// LF and CR LF line ends are read; a UTF-8 byte-order mark is skipped.
//
// Writing: an existing key keeps its line, only its value changes; every other byte of the
// file stays. A missing key is added after the last non-blank line of its section, a missing
// section is appended at the end, a missing file is created. New lines end in CR LF. The file
// is replaced through a temporary file and a rename, so a failed write leaves it unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavrun {

inline constexpr std::size_t ProfileValueLimit = 254;

// The value of `key` in `section` of the file at `path`, or "".
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, std::size_t maxBytes = ProfileValueLimit);

// Sets `key` in `section` to `value`. False with a reason when the names or the value cannot
// be stored in a profile file (line breaks, NUL, "]" in a section name, "=" in a key name,
// blanks around a name) or the file cannot be read or written.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value, std::string& errorText);

// One key of a batch write.
struct ProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// Sets several keys with one replacement of the file, so the file holds either all of the
// storable entries or, when the write fails, exactly what it held before. `stored[i]` tells
// whether entry i is now in the file. True when every entry was stored.
bool WriteProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries,
                         std::vector<bool>& stored, std::string& errorText);

// The same two operations on file contents in memory (the file functions use these).
// FindProfileValue returns false when the key is absent; `value` is then "".
bool FindProfileValue(std::string_view content, std::string_view section, std::string_view key,
                      std::string& value, std::size_t maxBytes = ProfileValueLimit);
// Returns the contents with the key set; false with a reason for names or values that
// cannot be stored (see WriteProfileString).
bool SetProfileValue(std::string& content, std::string_view section, std::string_view key,
                     std::string_view value, std::string& errorText);

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace tavrun
