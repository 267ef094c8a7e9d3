#include "cli/messages.h"

#include <cstdlib>
#include <cstring>

namespace tavrun::cli {
namespace {

struct Pair {
  Msg id;
  const char* english;
  const char* japanese;
};

const Pair kTexts[] = {
    {Msg::Usage,
     "Usage: tavrun-cli compress|extract --format lzh|zip SOURCE_DIR TARGET_DIR [options]\n"
     "\n"
     "Compresses every plain file of SOURCE_DIR into an archive of its own in TARGET_DIR, or\n"
     "extracts every archive of SOURCE_DIR into TARGET_DIR, as the Tavrun window does.\n"
     "\n"
     "Options:\n"
     "  --format lzh|zip           archive format (required)\n"
     "  --settings FILE            take the options from a Tavrun.ini; the options below\n"
     "                             override it\n"
     "  --dir-per-archive          extract each archive into a directory of its own\n"
     "  --overwrite                replace existing files and members without asking\n"
     "  --keep-existing            ZIP extraction: never replace an existing file\n"
     "  --ignore-dates             LZH: replace even when the existing one is newer\n"
     "  --no-readonly-overwrite    LZH extraction: never replace a read-only file\n"
     "  --archive-time             give each archive the date of its newest member\n"
     "  --method lh0|lh5|lh6|lh7   LZH method (default lh5)\n"
     "  --level 0-9                ZIP compression level (default 6)\n"
     "  --no-progress-dialog       pass the libraries' no-progress-dialog switches\n"
     "  --log FILE                 append the Tavrun.log lines to FILE\n"
     "  --log-level 0|1|2|3|9      lines written to the log: 0 or 1 all, 2 warnings and\n"
     "                             errors, 3 errors, 9 none (default with --log: 1)\n"
     "  --jobs N                   files done at once (default: the number of processors)\n"
     "  -q, --quiet                no progress line and no summary; failures only\n"
     "  -h, --help                 this text\n"
     "\n"
     "Nobody is asked anything: an existing file or member that only a question could\n"
     "replace is kept, and the summary lists it.\n"
     "Exit status: 0 all done, 1 some files failed, 2 bad usage or unreadable directories,\n"
     "130 interrupted.\n",
     "使い方: tavrun-cli compress|extract --format lzh|zip 元ディレクトリ 先ディレクトリ "
     "[オプション]\n"
     "\n"
     "元ディレクトリのファイルを一つずつ先ディレクトリの書庫に圧縮するか、元ディレクトリの\n"
     "書庫をすべて先ディレクトリに解凍します。Tavrun のウィンドウと同じ処理です。\n"
     "\n"
     "オプション:\n"
     "  --format lzh|zip           書庫の形式 (必須)\n"
     "  --settings ファイル        Tavrun.ini から設定を読む (以下のオプションが優先)\n"
     "  --dir-per-archive          書庫ごとにディレクトリを作って解凍する\n"
     "  --overwrite                確認せずに既存のファイル・メンバーを上書きする\n"
     "  --keep-existing            ZIP 解凍: 既存のファイルを上書きしない\n"
     "  --ignore-dates             LZH: 日付をチェックしない\n"
     "  --no-readonly-overwrite    LZH 解凍: 読み取り専用ファイルを上書きしない\n"
     "  --archive-time             書庫の日付を最新のメンバーに合わせる\n"
     "  --method lh0|lh5|lh6|lh7   LZH の圧縮方式 (既定 lh5)\n"
     "  --level 0-9                ZIP の圧縮率 (既定 6)\n"
     "  --no-progress-dialog       ライブラリに進捗ダイアログなしのスイッチを渡す\n"
     "  --log ファイル             Tavrun.log の形式でログを追記する\n"
     "  --log-level 0|1|2|3|9      ログの出力レベル: 0,1 すべて、2 警告とエラー、3 エラー、\n"
     "                             9 なし (--log 指定時の既定は 1)\n"
     "  --jobs N                   同時に処理するファイル数 (既定: プロセッサ数)\n"
     "  -q, --quiet                進捗と結果を表示しない (失敗のみ表示)\n"
     "  -h, --help                 この説明\n"
     "\n"
     "確認は行いません: 確認なしでは上書きできない既存のファイル・メンバーは残し、結果に\n"
     "表示します。\n"
     "終了コード: 0 正常終了、1 失敗したファイルあり、2 使い方の誤り・ディレクトリを読めない、\n"
     "130 中断。\n"},
    {Msg::UsageHint, "Try 'tavrun-cli --help'.", "'tavrun-cli --help' で使い方を表示します。"},
    {Msg::UnknownOption, "unknown option: {}", "不明なオプションです: {}"},
    {Msg::MissingValue, "option {} needs a value", "オプション {} には値が必要です"},
    {Msg::BadValue, "invalid value for {}: {}", "{} の値が正しくありません: {}"},
    {Msg::MissingArgument, "missing {}", "{} がありません"},
    {Msg::ExtraArgument, "unexpected argument: {}", "余分な引数です: {}"},
    {Msg::ConflictingOptions, "{} and {} cannot be used together",
     "{} と {} は同時に指定できません"},
    {Msg::SettingsUnreadable, "cannot read the settings file {}: {}",
     "設定ファイル {} を読めません: {}"},
    {Msg::LogUnwritable, "cannot write the log file {}: {}",
     "ログファイル {} に書き込めません: {}"},
    {Msg::SourceMissing, "the source directory does not exist: {}",
     "圧縮・解凍元ディレクトリが存在しません。{}"},
    {Msg::SourceEmpty, "no source directory given", "圧縮・解凍元ディレクトリが未入力です。"},
    {Msg::TargetMissing, "the target directory does not exist: {}",
     "圧縮・解凍先ディレクトリが存在しません。{}"},
    {Msg::TargetEmpty, "no target directory given", "圧縮・解凍先ディレクトリが未入力です。"},
    {Msg::TargetNotDirectory, "the target is not a directory: {}",
     "圧縮・解凍先がディレクトリではありません: {}"},
    {Msg::ListFailed, "cannot read the source directory {}: {}",
     "圧縮・解凍元ディレクトリを読めません {}: {}"},
    {Msg::NoFiles, "No files to process.", "対象ファイルが存在しません。"},
    {Msg::Summary, "{} files: {} done, {} kept, {} skipped, {} failed",
     "{} ファイル: 完了 {}、保持 {}、スキップ {}、失敗 {}"},
    {Msg::KeptHeading, "Kept (an existing file or member; --overwrite replaces it):",
     "既存のファイル・メンバーを残しました (--overwrite で上書きします):"},
    {Msg::SkippedHeading,
     "Skipped (not an archive of this format):", "書庫ではないためスキップしました:"},
    {Msg::FailedHeading, "Failed:", "失敗しました:"},
    {Msg::MissingDestination, "the destination directory is missing: {}",
     "解凍先ディレクトリがありません: {}"},
    {Msg::Interrupted, "Interrupted: {} files not processed.", "中断しました: 未処理 {} ファイル"},
    {Msg::Stopping, "Stopping: waiting for the files in progress...",
     "中断しています: 処理中のファイルを待っています..."},
    {Msg::Progress, "{} / {} files, {} / {}, {}/s", "{} / {} ファイル、{} / {}、{}/秒"},
    {Msg::ProgressLeft, ", {} left", "、残り {}"},
};

bool& JapaneseFlag() {
  static bool japanese = JapaneseLocale();
  return japanese;
}

}  // namespace

bool JapaneseLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::strncmp(value, "ja", 2) == 0;
  }
  return false;
}

void SetJapanese(bool japanese) {
  JapaneseFlag() = japanese;
}

std::string Text(Msg id, std::initializer_list<std::string> arguments) {
  const char* pattern = "";
  for (const Pair& pair : kTexts) {
    if (pair.id == id) pattern = JapaneseFlag() ? pair.japanese : pair.english;
  }
  std::string text;
  auto argument = arguments.begin();
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] == '}' && argument != arguments.end()) {
      text += *argument++;
      ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

}  // namespace tavrun::cli
