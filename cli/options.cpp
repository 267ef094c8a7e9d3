#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "cli/messages.h"

namespace tavrun::cli {
namespace {

// Where an option means something: one bit per command and format.
using Scope = unsigned;
constexpr Scope Bit(Command command, bool zip) {
  return 1u << (static_cast<unsigned>(command) * 2 + (zip ? 1 : 0));
}
constexpr Scope kCompressLzh = Bit(Command::Compress, false);
constexpr Scope kCompressZip = Bit(Command::Compress, true);
constexpr Scope kExtractLzh = Bit(Command::Extract, false);
constexpr Scope kExtractZip = Bit(Command::Extract, true);
constexpr Scope kBatch = kCompressLzh | kCompressZip | kExtractLzh | kExtractZip;
constexpr Scope kZip =
    kCompressZip | kExtractZip | Bit(Command::List, true) | Bit(Command::Test, true);

// A flag sets fixed values; an option with a value maps each accepted word to settings.
struct Flag {
  const char* name;
  Scope scope;
  std::vector<std::pair<SettingIndex, const char*>> values;
};

const std::vector<Flag>& Flags() {
  static const std::vector<Flag> flags = {
      {"--dir-per-archive", kExtractLzh | kExtractZip, {{MakeDirectory, "1"}}},
      {"--ignore-dates", kCompressLzh | kExtractLzh, {{LzhCheckTimestamp, "1"}}},
      {"--no-progress-dialog",
       kBatch,
       {{LzhControlDialog, "1"}, {ZipControlDialog, "1"}, {UnzipControlDialog, "1"}}},
      {"--archive-time",
       kCompressLzh | kCompressZip,
       {{LzhArchiveTime, "1"}, {ZipArchiveTime, "1"}}},
      {"--overwrite",
       kCompressLzh | kExtractLzh | kExtractZip,
       {{LzhOverwriteConfirm, "1"}, {UnzipOverwriteConfirm, "2"}}},
      {"--keep-existing", kExtractZip, {{UnzipOverwriteConfirm, "1"}}},
      {"--no-readonly-overwrite", kExtractLzh, {{LzhReadonlyConfirm, "2"}}},
  };
  return flags;
}

// The options with a value and where each applies.
const std::map<std::string, Scope>& ValueScopes() {
  static const std::map<std::string, Scope> scopes = {
      {"--format", ~0u},         {"--jobs", ~0u},           {"--method", kCompressLzh},
      {"--level", kCompressZip}, {"--log-level", kBatch},   {"--log", kBatch},
      {"--settings", kBatch},    {"--password-file", kZip}, {"--encryption", kCompressZip},
  };
  return scopes;
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

const char* CommandName(Command command) {
  switch (command) {
    case Command::Compress: return "compress";
    case Command::Extract: return "extract";
    case Command::List: return "list";
    case Command::Test: return "test";
  }
  return "";
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
      } else if (argument[1] != '-') {
        if (!ShortOptions(argument)) return false;
      } else if (!Option(argument)) {
        return false;
      }
    }
    if (options_.help || options_.version) return true;
    return Positional(positional) && Consistent();
  }

 private:
  bool Fail(Msg id, std::initializer_list<std::string> arguments) {
    errorText_ = Text(id, arguments);
    return false;
  }

  // The value of an option: after "=" in the same argument, or the next argument.
  bool Value(const std::string& name, const std::string* inline_, std::string& value) {
    seen_.push_back(name);
    if (inline_ != nullptr) {
      value = *inline_;
      return true;
    }
    if (index_ + 1 >= arguments_.size()) return Fail(Msg::MissingValue, {name});
    value = arguments_[++index_];
    return true;
  }

  // "-q", "-h", "-j N", "-jN" and bundles of them such as "-qj2".
  bool ShortOptions(const std::string& argument) {
    for (size_t i = 1; i < argument.size(); ++i) {
      const char letter = argument[i];
      if (letter == 'q') {
        options_.quiet = true;
      } else if (letter == 'h') {
        options_.help = true;
      } else if (letter == 'V') {
        options_.version = true;
      } else if (letter == 'j') {
        const std::string rest = argument.substr(i + 1);
        return Jobs("-j", rest.empty() ? nullptr : &rest);
      } else {
        return Fail(Msg::UnknownOption, {"-" + std::string(1, letter)});
      }
    }
    return true;
  }

  bool Jobs(const std::string& name, const std::string* inline_) {
    std::string value;
    unsigned number = 0;
    if (!Value("--jobs", inline_, value)) return false;
    if (!ParseNumber(value, 0, 1u << 20, number)) return Fail(Msg::BadValue, {name, value});
    options_.jobs = number;
    return true;
  }

  bool Option(const std::string& argument) {
    std::string name = argument;
    std::string inlineValue;
    const std::string* inline_ = nullptr;
    if (auto equals = argument.find('='); equals != std::string::npos) {
      name = argument.substr(0, equals);
      inlineValue = argument.substr(equals + 1);
      inline_ = &inlineValue;
    }
    if (name == "--help") return options_.help = true;
    if (name == "--version") return options_.version = true;
    if (name == "--quiet") return options_.quiet = true;
    if (name == "--json") return options_.json = true;
    for (const Flag& flag : Flags()) {
      if (name != flag.name) continue;
      if (inline_ != nullptr) return Fail(Msg::BadValue, {name, inlineValue});
      for (const auto& [index, text] : flag.values) options_.settings.emplace_back(index, text);
      seen_.push_back(name);
      return true;
    }
    if (name == "--jobs") return Jobs(name, inline_);
    if (ValueScopes().count(name) == 0) return Fail(Msg::UnknownOption, {argument});
    std::string value;
    if (!Value(name, inline_, value)) return false;
    return ValueOption(name, value);
  }

  bool ValueOption(const std::string& name, const std::string& value) {
    unsigned number = 0;
    if (name == "--format") {
      if (value != "lzh" && value != "zip") return Fail(Msg::BadValue, {name, value});
      options_.zip = value == "zip";
      formatGiven_ = true;
    } else if (name == "--method") {
      auto method = Methods().find(value);
      if (method == Methods().end()) return Fail(Msg::BadValue, {name, value});
      options_.settings.emplace_back(LzhCompressRate, method->second);
    } else if (name == "--level") {
      if (!ParseNumber(value, 0, 9, number)) return Fail(Msg::BadValue, {name, value});
      options_.settings.emplace_back(ZipCompressRate, std::to_string(number));
    } else if (name == "--log-level") {
      if (!ParseNumber(value, 0, 9, number) || (number > 3 && number != 9)) {
        return Fail(Msg::BadValue, {name, value});
      }
      options_.settings.emplace_back(LogLevel, std::to_string(number));
      options_.logLevelGiven = true;
    } else if (name == "--encryption") {
      if (value != "aes256" && value != "zipcrypto") return Fail(Msg::BadValue, {name, value});
      options_.encryption = value == "aes256" ? Encryption::Aes256 : Encryption::ZipCrypto;
    } else {
      // --settings, --log and --password-file: a file name.
      if (value.empty()) return Fail(Msg::BadValue, {name, value});
      (name == "--log"        ? options_.logFile
       : name == "--settings" ? options_.settingsFile
                              : options_.passwordFile) = value;
    }
    return true;
  }

  bool Positional(const std::vector<std::string>& positional) {
    const char* commands = "compress|extract|list|test";
    if (positional.empty()) return Fail(Msg::MissingArgument, {commands});
    const std::string& command = positional[0];
    const std::map<std::string, Command> known = {{"compress", Command::Compress},
                                                  {"extract", Command::Extract},
                                                  {"list", Command::List},
                                                  {"test", Command::Test}};
    auto found = known.find(command);
    if (found == known.end()) return Fail(Msg::BadValue, {commands, command});
    options_.command = found->second;
    options_.compress = options_.command == Command::Compress;
    const bool batch =
        options_.command == Command::Compress || options_.command == Command::Extract;
    if (!formatGiven_) return Fail(Msg::MissingArgument, {"--format lzh|zip"});
    if (positional.size() < 2) return Fail(Msg::MissingArgument, {batch ? "SOURCE_DIR" : "SOURCE"});
    const size_t count = batch ? 3 : 2;
    if (positional.size() < count) return Fail(Msg::MissingArgument, {"TARGET_DIR"});
    if (positional.size() > count) return Fail(Msg::ExtraArgument, {positional[count]});
    options_.source = positional[1];
    if (batch) options_.target = positional[2];
    return true;
  }

  Scope Where(const std::string& name) const {
    for (const Flag& flag : Flags()) {
      if (name == flag.name) return flag.scope;
    }
    auto found = ValueScopes().find(name);
    return found == ValueScopes().end() ? ~0u : found->second;
  }

  // Every option given must mean something for this command and format.
  bool Consistent() {
    auto has = [&](const char* name) {
      return std::find(seen_.begin(), seen_.end(), name) != seen_.end();
    };
    const Scope here = Bit(options_.command, options_.zip);
    for (const std::string& name : seen_) {
      if ((Where(name) & here) != 0) continue;
      return Fail(Msg::NotApplicable, {name, std::string(CommandName(options_.command)) +
                                                 " --format " + (options_.zip ? "zip" : "lzh")});
    }
    if (has("--overwrite") && has("--keep-existing")) {
      return Fail(Msg::ConflictingOptions, {"--overwrite", "--keep-existing"});
    }
    if (has("--encryption") && options_.passwordFile.empty()) {
      return Fail(Msg::NeedsOption, {"--encryption", "--password-file"});
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
