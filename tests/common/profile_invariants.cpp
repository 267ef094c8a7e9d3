#include "profile_invariants.h"

#include <vector>

#include "common/profile.h"

namespace tavrun::testing {
namespace {

const char* const kSections[] = {"INIT", "init", " Common ", "LZH", "ZIP", "", "Zip"};
const char* const kKeys[] = {"ArchiveType", "archivetype", "LogLevel", "CompressRate", "k", "Bare"};
const char* const kValues[] = {"0",   " 1 ",          "\"q\"", "'x'",  "",
                               "a=b", "\xE3\x81\x82", "\"",    "9.5e0"};
const char* const kEnds[] = {"\r\n", "\n", "\r\n", "\n", "\r", ""};

template <typename T, std::size_t N>
const T& Pick(std::mt19937& random, const T (&items)[N]) {
  return items[random() % N];
}

// The lines of a file without their line ends (a missing final line end is added by edits).
std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t nl = content.find('\n', pos);
    std::size_t end = nl == std::string::npos ? content.size() : nl;
    std::string line = content.substr(pos, end - pos);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = nl == std::string::npos ? content.size() : nl + 1;
  }
  return lines;
}

}  // namespace

std::string RandomProfile(std::mt19937& random) {
  std::string content;
  int lines = static_cast<int>(random() % 14);
  for (int i = 0; i < lines; ++i) {
    switch (random() % 8) {
      case 0:
      case 1:
        content += std::string("[") + Pick(random, kSections) + "]";
        break;
      case 2:
      case 3:
      case 4:
        content += std::string(random() % 2 ? "  " : "") + Pick(random, kKeys) +
                   (random() % 2 ? " = " : "=") + Pick(random, kValues);
        break;
      case 5:
        content += "; comment";
        break;
      case 6:
        break;  // blank line
      default:
        for (int n = static_cast<int>(random() % 12); n > 0; --n) {
          content += static_cast<char>(random() % 256);
        }
    }
    content += Pick(random, kEnds);
  }
  return content;
}

std::string CheckEditInvariants(const std::string& content, uint32_t seed) {
  std::mt19937 random(seed);
  const std::string sections[] = {"INIT", "COMMON", "LZH", "ZIP", "New"};
  const std::string keys[] = {"ArchiveType", "LogLevel", "CompressRate", "k", "Bare", "Fresh"};
  const std::string& section = sections[random() % 5];
  const std::string& key = keys[random() % 6];
  const std::string value = "v" + std::to_string(random() % 1000);

  struct Probe {
    std::string section, key, value;
    bool found;
  };
  std::vector<Probe> before;
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      Probe p{s, k, "", false};
      p.found = FindProfileValue(content, s, k, p.value);
      before.push_back(p);
    }
  }

  std::string edited = content;
  std::string error;
  if (!SetProfileValue(edited, section, key, value, error)) return "edit refused: " + error;
  std::string readBack;
  if (!FindProfileValue(edited, section, key, readBack) || readBack != value) {
    return "value does not read back (" + section + "/" + key + " = '" + readBack + "')";
  }
  for (const Probe& p : before) {
    bool same = p.section == section && p.key == key;
    if (same) continue;
    std::string now;
    bool found = FindProfileValue(edited, p.section, p.key, now);
    if (found != p.found || now != p.value) {
      return "edit of " + section + "/" + key + " changed " + p.section + "/" + p.key;
    }
  }
  std::string again = edited;
  if (!SetProfileValue(again, section, key, value, error) || again != edited) {
    return "setting the same value again changed the file";
  }
  // Every line but the one holding the key is still there, unchanged and in order.
  std::vector<std::string> oldLines = Lines(content);
  std::vector<std::string> newLines = Lines(edited);
  std::size_t j = 0;
  int changed = 0;
  for (const std::string& line : oldLines) {
    std::size_t k = j;
    while (k < newLines.size() && newLines[k] != line) ++k;
    if (k == newLines.size()) {
      ++changed;
    } else {
      j = k + 1;
    }
  }
  if (changed > 1) return std::to_string(changed) + " lines of the old file changed";
  return "";
}

}  // namespace tavrun::testing
