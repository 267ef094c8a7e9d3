#include "app/settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>

#include "app/version.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/profile.h"

namespace tavrun {
namespace {

struct FieldRule {
  SettingIndex index;
  const char* section;
  const char* key;
  const char* defaultText;
  uint16_t allowed;  // bit n set: the number n is valid; 0: any text, not validated
};

const FieldRule kRules[SettingCount] = {
    {ArchiveType, "INIT", "ArchiveType", "0", 0x003},
    {CompressType, "INIT", "CompressType", "0", 0x003},
    {ExtractType, "INIT", "ExtractType", "0", 0x003},
    {FromDirectory, "INIT", "FromDirectory", "", 0},
    {ToDirectory, "INIT", "ToDirectory", "", 0},
    {MakeDirectory, "COMMON", "MakeDirectory", "0", 0x003},
    {LogLevel, "COMMON", "LogLevel", "9", 0x20F},
    {LzhCheckTimestamp, "LZH", "CheckTimestamp", "0", 0x003},
    {LzhControlDialog, "LZH", "ControlDialog", "0", 0x003},
    {LzhArchiveTime, "LZH", "ArchiveTime", "0", 0x003},
    {LzhOverwriteConfirm, "LZH", "OverwriteConfirm", "0", 0x003},
    {LzhCompressRate, "LZH", "CompressRate", "2", 0x01F},
    {LzhReadonlyConfirm, "LZH", "ReadonlyConfirm", "0", 0x007},
    {ZipControlDialog, "ZIP", "ControlDialog", "0", 0x003},
    {ZipArchiveTime, "ZIP", "ArchiveTime", "0", 0x003},
    {ZipCompressRate, "ZIP", "CompressRate", "6", 0x3FF},
    {UnzipControlDialog, "UNZIP", "ControlDialog", "0", 0x003},
    {UnzipOverwriteConfirm, "UNZIP", "OverwriteConfirm", "0", 0x007},
};

bool IsBlankChar(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

#ifndef TAVRUN_DATA_DIR_FROM_BIN
#define TAVRUN_DATA_DIR_FROM_BIN "../share/tavrun"
#endif

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return std::string();
}

// An install lays the readme out under share/tavrun and nothing beside the executable; a
// build tree or an unpacked folder has it beside the executable.
std::string InstalledReadme(const std::string& exeDirectory) {
  return exeDirectory + "/" TAVRUN_DATA_DIR_FROM_BIN "/Readme.txt";
}
bool IsInstalledCopy(const std::string& exeDirectory) {
  return !IsPlainFile(exeDirectory + "/Readme.txt") && IsPlainFile(InstalledReadme(exeDirectory));
}

}  // namespace

AppState& App() {
  static AppState state;
  return state;
}

std::string& Setting(SettingIndex index) {
  AppState& app = App();
  // Reading a field before start-up has filled the table sees "" rather than nothing.
  if (app.AppSettings.size() < static_cast<std::size_t>(SettingCount)) {
    app.AppSettings.resize(SettingCount);
  }
  return app.AppSettings[static_cast<std::size_t>(index)];
}

SettingKeyTable DefaultSettingKeys() {
  SettingKeyTable keys;
  keys.reserve(SettingCount);
  for (const FieldRule& rule : kRules) keys.push_back({rule.section, rule.key});
  return keys;
}

const std::string& SettingDefault(SettingIndex index) {
  static const std::vector<std::string> defaults = [] {
    std::vector<std::string> texts;
    for (const FieldRule& rule : kRules) texts.emplace_back(rule.defaultText);
    return texts;
  }();
  static const std::string empty;
  if (index < 0 || index >= SettingCount) return empty;
  return defaults[static_cast<std::size_t>(index)];
}

// The number is taken apart into its digits and the position of the decimal point, so that
// the rounding is exact: 0.5 and 2.5 are true halves, not binary neighbours of them.
bool ToInt16(const std::string& text, int16_t& value) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlankChar(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  std::string digits;      // every mantissa digit, leading zeros dropped
  long long pointPos = 0;  // digits before the decimal point (after dropping leading zeros)
  bool anyDigit = false;
  for (; i < n && IsDigit(text[i]); ++i) {
    anyDigit = true;
    if (digits.empty() && text[i] == '0') continue;
    digits += text[i];
    ++pointPos;
  }
  if (i < n && text[i] == '.') {
    ++i;
    for (; i < n && IsDigit(text[i]); ++i) {
      anyDigit = true;
      if (digits.empty() && text[i] == '0') {
        --pointPos;
        continue;
      }
      digits += text[i];
    }
  }
  if (!anyDigit) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (i >= n || !IsDigit(text[i])) return false;
    long long exponent = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
      // Far beyond any 16-bit number either way; saturate rather than overflow.
      exponent = std::min(exponent * 10 + (text[i] - '0'), 1000000LL);
    }
    pointPos += expNegative ? -exponent : exponent;
  }
  while (i < n && IsBlankChar(text[i])) ++i;
  if (i != n) return false;

  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) {
    value = 0;
    return true;
  }
  if (pointPos > 6) return false;  // at least 1,000,000

  long long whole = 0;
  for (long long k = 0; k < pointPos; ++k) {
    whole = whole * 10 + (k < static_cast<long long>(digits.size()) ? digits[k] - '0' : 0);
  }
  // The fraction: digits from pointPos on; a negative pointPos means leading zeros.
  int first = 0;
  bool restNonZero = false;
  if (pointPos >= 0 && pointPos < static_cast<long long>(digits.size())) {
    first = digits[static_cast<std::size_t>(pointPos)] - '0';
    restNonZero = static_cast<long long>(digits.size()) > pointPos + 1;  // no trailing zeros
  } else if (pointPos < 0) {
    first = 0;
    restNonZero = true;
  }
  if (first > 5 || (first == 5 && restNonZero) || (first == 5 && !restNonZero && whole % 2 == 1)) {
    ++whole;
  }
  if (negative) whole = -whole;
  if (whole < -32768 || whole > 32767) return false;
  value = static_cast<int16_t>(whole);
  return true;
}

bool ReadIniValues(const std::string& iniPath, int32_t count, const SettingKeyTable& keys,
                   SettingValueTable& values, std::string& errorText) {
  try {
    values.clear();
    if (count < 0) count = 0;
    values.resize(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      const SettingKey& row = keys.at(static_cast<std::size_t>(i));
      std::string ignored;
      values[static_cast<std::size_t>(i)] = GetIniString(iniPath, row.section, row.key, ignored);
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool WriteIniValues(const std::string& iniPath, int32_t count, const SettingKeyTable& keys,
                    const SettingValueTable& values, std::string& errorText) {
  try {
    // All rows go into the file in one replacement: a failed write leaves the old file whole
    // instead of a file with some of the rows changed.
    std::vector<ProfileEntry> entries;
    for (int32_t i = 0; i < count; ++i) {
      const SettingKey& row = keys.at(static_cast<std::size_t>(i));
      entries.push_back({row.section, row.key, values.at(static_cast<std::size_t>(i))});
    }
    std::vector<bool> stored;
    return WriteProfileStrings(iniPath, entries, stored, errorText);
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

std::string GetIniString(const std::string& iniPath, const std::string& section,
                         const std::string& key, std::string& errorText) {
  try {
    return ReadProfileString(iniPath, section, key, ProfileValueLimit);
  } catch (const std::exception& e) {
    errorText = e.what();
    return std::string();
  }
}

bool PutIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value, std::string& errorText) {
  try {
    return WriteProfileString(iniPath, section, key, value, errorText);
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

SettingsLocation DecideSettingsLocation(const std::string& exeDirectory, bool exeDirectoryWritable,
                                        const std::string& configHome, const std::string& home) {
  // An install that root (or the owner of a private prefix) can write into is still an
  // install: Tavrun.ini must not land in /usr/bin.
  if (exeDirectoryWritable && !IsInstalledCopy(exeDirectory)) {
    return SettingsLocation{exeDirectory, exeDirectory + "/Readme.txt", true};
  }
  std::string base;
  if (!configHome.empty() && configHome.front() == '/') {
    base = configHome;
  } else if (!home.empty() && home.front() == '/') {
    base = home + "/.config";
  } else {
    // Nowhere of the user's own: beside the executable, where saving fails as it always did.
    return SettingsLocation{exeDirectory, exeDirectory + "/Readme.txt", true};
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string readme = exeDirectory + "/Readme.txt";
  if (!IsPlainFile(readme) && IsPlainFile(InstalledReadme(exeDirectory))) {
    readme = InstalledReadme(exeDirectory);
  }
  return SettingsLocation{base + "/tavrun", readme, false};
}

SettingsLocation LocateSettings(const std::string& exeDirectory) {
  const bool writable = ::access(exeDirectory.c_str(), W_OK | X_OK) == 0;
  return DecideSettingsLocation(exeDirectory, writable, Environment("XDG_CONFIG_HOME"),
                                HomeDirectory());
}

bool EnsureSettingsDirectory(const std::string& directory, std::string& errorText) {
  if (directory.empty()) {
    errorText = PlatformErrorText(ENOENT);
    return false;
  }
  if (IsDirectory(directory)) return true;
  // Every missing level from the top down; another process may make one at the same time.
  for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string level = directory.substr(0, slash);
    if (!IsDirectory(level) && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
      errorText = PlatformErrorText(errno);
      return false;
    }
    if (slash == std::string::npos) break;
  }
  return IsDirectory(directory);
}

bool InitAppAt(const SettingsLocation& location, std::string& errorText) {
  try {
    AppState& app = App();
    app.WindowTitle = std::string(AppTitle) + " " + GetShortVersion();
    // A folder that cannot be made leaves the paths as they are: reading finds nothing and
    // saving fails, as in a directory the user cannot write.
    std::string ignored;
    if (!location.portable) EnsureSettingsDirectory(location.directory, ignored);
    std::string dir = AddBackslash(location.directory, errorText);
    app.IniFilePath = dir + "Tavrun.ini";
    app.LogFilePath = dir + "Tavrun.log";
    app.ReadmeFilePath = location.readmeFile.empty() ? dir + "Readme.txt" : location.readmeFile;
    app.SettingKeys = DefaultSettingKeys();

    std::string readError;
    if (!ReadIniValues(app.IniFilePath, SettingCount, app.SettingKeys, app.AppSettings,
                       readError)) {
      WriteLog(app.LogFilePath, readError, LogLevelWarn, 0);
    }
    app.AppSettings.resize(SettingCount);

    for (const FieldRule& rule : kRules) {
      if (rule.allowed == 0) continue;
      std::string& text = app.AppSettings[static_cast<std::size_t>(rule.index)];
      int16_t number = 0;
      bool valid = ToInt16(text, number) && number >= 0 && number < 16 &&
                   (rule.allowed & (1u << number)) != 0;
      if (!valid) text = rule.defaultText;
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool InitAppIn(const std::string& exeDirectory, std::string& errorText) {
  return InitAppAt(SettingsLocation{exeDirectory, std::string(), true}, errorText);
}

bool InitApp(std::string& errorText) {
  std::string dir = ExecutableDirectory();
  if (dir.empty()) {
    errorText = "実行ファイルのディレクトリを取得できません";
    return false;
  }
  return InitAppAt(LocateSettings(dir), errorText);
}

}  // namespace tavrun
