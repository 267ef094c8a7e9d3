// The command-line tool's own texts, in Japanese or English after the locale. The log keeps
// the program's Japanese texts whatever the locale, so a log reads the same from either side.
#pragma once

#include <initializer_list>
#include <string>

namespace tavrun::cli {

enum class Msg {
  Usage,
  UsageHint,
  UnknownOption,
  MissingValue,
  BadValue,
  MissingArgument,
  ExtraArgument,
  ConflictingOptions,
  SettingsUnreadable,
  LogUnwritable,
  SourceMissing,
  SourceEmpty,
  TargetMissing,
  TargetEmpty,
  TargetNotDirectory,
  ListFailed,
  NoFiles,
  Summary,
  KeptHeading,
  SkippedHeading,
  FailedHeading,
  MissingDestination,
  Interrupted,
  Stopping,
  Progress,
  ProgressLeft,
  NotApplicable,
  NeedsOption,
  SourceNotFound,
  TargetUncreatable,
  PasswordPrompt,
  PasswordEmpty,
  PasswordUnreadable,
  OutputFailed,
};

// Messages follow the locale (LocaleWantsJapanese) unless set here.
void SetJapanese(bool japanese);

// The text of `id` with each "{}" replaced by the next argument.
std::string Text(Msg id, std::initializer_list<std::string> arguments = {});

}  // namespace tavrun::cli
