#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "cli/messages.h"

namespace tavrun::cli {
namespace {

// A flag sets fixed values; an option with a value maps each accepted word to settings.
struct Flag {
  const char* name;
  std::vector<std::pair<SettingIndex, const char*>> values;
};

const std::vector<Flag>& Flags() {
  static const std::vector<Flag> flags = {
      {"--dir-per-archive", {{MakeDirectory, "1"}}},
      {"--ignore-dates", {{LzhCheckTimestamp, "1"}}},
      {"--no-progress-dialog",
       {{LzhControlDialog, "1"}, {ZipControlDialog, "1"}, {UnzipControlDialog, "1"}}},
      {"--archive-time", {{LzhArchiveTime, "1"}, {ZipArchiveTime, "1"}}},
      {"--overwrite", {{LzhOverwriteConfirm, "1"}, {UnzipOverwriteConfirm, "2"}}},
      {"--keep-existing", {{UnzipOverwriteConfirm, "1"}}},
      {"--no-readonly-overwrite", {{LzhReadonlyConfirm, "2"}}},
  };
  return flags;
}

const std::map<std::string, std::string>& Methods() {
  static const std::map<std::string, std::string> methods = {
      {"lh0", "0"}, {"lh5", "2"}, {"lh6", "3"}, {"lh7", "4"}};
  return methods;
}

bool ParseNumber(const std::string& text, unsigned low, unsigned high, unsigned& value) {
  const char* end = text.data() + text.size();
  auto [p, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && p == end && !text.empty() && value >= low && value <= high;
}

class Parser {
 public:
  Parser(const std::vector<std::string>& arguments, Options& options, std::string& errorText)
      : arguments_(arguments), options_(options), errorText_(errorText) {}

  bool Run() {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (index_ = 0; index_ < arguments_.size(); ++index_) {
      const std::string& argument = arguments_[index_];
      if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
        positional.push_back(argument);
      } else if (argument == "--") {
        optionsEnded = true;
      } else if (!Option(argument)) {
        return false;
      }
    }
    if (options_.help) return true;
    return Positional(positional) && Consistent();
  }

 private:
  bool Fail(Msg id, std::initializer_list<std::string> arguments) {
    errorText_ = Text(id, arguments);
    return false;
  }

  // The value of an option: after "=" in the same argument, or the next argument.
  bool Value(const std::string& name, const std::string* inline_, std::string& value) {
    if (inline_ != nullptr) {
      value = *inline_;
      return true;
    }
    if (index_ + 1 >= arguments_.size()) return Fail(Msg::MissingValue, {name});
    value = arguments_[++index_];
    return true;
  }

  bool Option(const std::string& argument) {
    std::string name = argument;
    std::string inlineValue;
    const std::string* inline_ = nullptr;
    if (auto equals = argument.find('=');
        argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      inlineValue = argument.substr(equals + 1);
      inline_ = &inlineValue;
    }
    if (name == "-h" || name == "--help") return options_.help = true;
    if (name == "-q" || name == "--quiet") return options_.quiet = true;
    for (const Flag& flag : Flags()) {
      if (name != flag.name) continue;
      if (inline_ != nullptr) return Fail(Msg::BadValue, {name, inlineValue});
      for (const auto& [index, text] : flag.values) options_.settings.emplace_back(index, text);
      seen_.push_back(name);
      return true;
    }
    std::string value;
    if (name == "--format") {
      if (!Value(name, inline_, value)) return false;
      if (value != "lzh" && value != "zip") return Fail(Msg::BadValue, {name, value});
      options_.zip = value == "zip";
      formatGiven_ = true;
      return true;
    }
    if (name == "--method") {
      if (!Value(name, inline_, value)) return false;
      auto method = Methods().find(value);
      if (method == Methods().end()) return Fail(Msg::BadValue, {name, value});
      options_.settings.emplace_back(LzhCompressRate, method->second);
      return true;
    }
    unsigned number = 0;
    if (name == "--level") {
      if (!Value(name, inline_, value)) return false;
      if (!ParseNumber(value, 0, 9, number)) return Fail(Msg::BadValue, {name, value});
      options_.settings.emplace_back(ZipCompressRate, std::to_string(number));
      return true;
    }
    if (name == "--log-level") {
      if (!Value(name, inline_, value)) return false;
      if (!ParseNumber(value, 0, 9, number) || (number > 3 && number != 9)) {
        return Fail(Msg::BadValue, {name, value});
      }
      options_.settings.emplace_back(LogLevel, std::to_string(number));
      options_.logLevelGiven = true;
      return true;
    }
    if (name == "--jobs" || name == "-j") {
      if (!Value(name, inline_, value)) return false;
      if (!ParseNumber(value, 1, 1024, number)) return Fail(Msg::BadValue, {name, value});
      options_.jobs = number;
      return true;
    }
    if (name == "--settings" || name == "--log") {
      if (!Value(name, inline_, value)) return false;
      if (value.empty()) return Fail(Msg::BadValue, {name, value});
      (name == "--log" ? options_.logFile : options_.settingsFile) = value;
      return true;
    }
    return Fail(Msg::UnknownOption, {argument});
  }

  bool Positional(const std::vector<std::string>& positional) {
    if (positional.empty()) return Fail(Msg::MissingArgument, {"compress|extract"});
    const std::string& command = positional[0];
    if (command != "compress" && command != "extract") {
      return Fail(Msg::BadValue, {"compress|extract", command});
    }
    options_.compress = command == "compress";
    if (!formatGiven_) return Fail(Msg::MissingArgument, {"--format lzh|zip"});
    if (positional.size() < 2) return Fail(Msg::MissingArgument, {"SOURCE_DIR"});
    if (positional.size() < 3) return Fail(Msg::MissingArgument, {"TARGET_DIR"});
    if (positional.size() > 3) return Fail(Msg::ExtraArgument, {positional[3]});
    options_.source = positional[1];
    options_.target = positional[2];
    return true;
  }

  bool Consistent() {
    auto has = [&](const char* name) {
      return std::find(seen_.begin(), seen_.end(), name) != seen_.end();
    };
    if (has("--overwrite") && has("--keep-existing")) {
      return Fail(Msg::ConflictingOptions, {"--overwrite", "--keep-existing"});
    }
    return true;
  }

  const std::vector<std::string>& arguments_;
  Options& options_;
  std::string& errorText_;
  size_t index_ = 0;
  bool formatGiven_ = false;
  std::vector<std::string> seen_;
};

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options& options,
                  std::string& errorText) {
  return Parser(arguments, options, errorText).Run();
}

}  // namespace tavrun::cli
