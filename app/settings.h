// The settings record, its INI keys, start-up initialisation and the INI read/write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrun {

inline constexpr int32_t SettingCount = 18;

// Row numbers of SettingKeys and AppSettings: the identity of a field everywhere.
enum SettingIndex : int {
  ArchiveType = 0,
  CompressType = 1,
  ExtractType = 2,
  FromDirectory = 3,
  ToDirectory = 4,
  MakeDirectory = 5,
  LogLevel = 6,
  LzhCheckTimestamp = 7,
  LzhControlDialog = 8,
  LzhArchiveTime = 9,
  LzhOverwriteConfirm = 10,
  LzhCompressRate = 11,
  LzhReadonlyConfirm = 12,
  ZipControlDialog = 13,
  ZipArchiveTime = 14,
  ZipCompressRate = 15,
  UnzipControlDialog = 16,
  UnzipOverwriteConfirm = 17,
};

struct SettingKey {
  std::string section;
  std::string key;
};
using SettingKeyTable = std::vector<SettingKey>;
using SettingValueTable = std::vector<std::string>;

// Process-wide state owned by the application shell.
struct AppState {
  std::string WindowTitle;     // "Tavrun Ver.0.1"
  std::string IniFilePath;     // <settings folder>/Tavrun.ini
  std::string LogFilePath;     // <settings folder>/Tavrun.log
  std::string ReadmeFilePath;  // Readme.txt beside the executable or where it was installed
  SettingKeyTable SettingKeys;
  SettingValueTable AppSettings;         // SettingCount texts once InitApp has run
  bool CanCompress[2] = {false, false};  // by format: 0 LZH, 1 ZIP
  bool CanExtract[2] = {false, false};
};

AppState& App();

// Shorthand for App().AppSettings[index].
std::string& Setting(SettingIndex index);

inline constexpr const char* AppTitle = "Tavrun";

// The 18 rows of sections and keys, in table order.
SettingKeyTable DefaultSettingKeys();
// The default text of each field (fields 3 and 4: "").
const std::string& SettingDefault(SettingIndex index);

// Where Tavrun.ini, Tavrun.log and Readme.txt are, decided once at start-up.
struct SettingsLocation {
  std::string directory;   // Tavrun.ini and Tavrun.log; no trailing "/"
  std::string readmeFile;  // empty: Readme.txt in `directory`
  bool portable = true;    // the executable's own directory
};

// A portable folder (the executable's directory is writable and is no installed copy) keeps
// everything beside the executable. Otherwise the settings go to the per-user folder
// <configHome or home/.config>/tavrun and the readme is the installed one when it exists.
// `configHome` and `home` are $XDG_CONFIG_HOME and $HOME; a relative one is ignored.
SettingsLocation DecideSettingsLocation(const std::string& exeDirectory, bool exeDirectoryWritable,
                                        const std::string& configHome, const std::string& home);
// The same from the environment and the state of the executable's directory.
SettingsLocation LocateSettings(const std::string& exeDirectory);

// Creates the settings folder and its parents as needed (new levels private to the user).
bool EnsureSettingsDirectory(const std::string& directory, std::string& errorText);

// Forms the fixed texts from the location, reads and repairs AppSettings. The per-user
// folder is created here when missing.
bool InitAppAt(const SettingsLocation& location, std::string& errorText);
// The location decided from the executable's real directory, then InitAppAt.
bool InitApp(std::string& errorText);
// Everything beside an explicit directory (tests, the portable layout).
bool InitAppIn(const std::string& exeDirectory, std::string& errorText);

bool ReadIniValues(const std::string& iniPath, int32_t count, const SettingKeyTable& keys,
                   SettingValueTable& values, std::string& errorText);
bool WriteIniValues(const std::string& iniPath, int32_t count, const SettingKeyTable& keys,
                    const SettingValueTable& values, std::string& errorText);
std::string GetIniString(const std::string& iniPath, const std::string& section,
                         const std::string& key, std::string& errorText);
bool PutIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value, std::string& errorText);

// Converts a decimal text (blanks around, sign, fraction, exponent allowed) to a 16-bit
// integer, rounding halves to even. False when the text is no number or out of range.
bool ToInt16(const std::string& text, int16_t& value);

// The error text used where a setting that must be a number is not one.
inline constexpr const char* TypeMismatchText = "型が一致しません。";

}  // namespace tavrun
