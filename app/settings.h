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
  std::string IniFilePath;     // <exe dir>/Tavrun.ini
  std::string LogFilePath;     // <exe dir>/Tavrun.log
  std::string ReadmeFilePath;  // <exe dir>/Readme.txt
  SettingKeyTable SettingKeys;
  SettingValueTable AppSettings;  // SettingCount texts once InitApp has run
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

// Forms the fixed texts from the executable's real directory, reads and repairs AppSettings.
bool InitApp(std::string& errorText);
// The same with an explicit directory (tests).
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
