#include "cli/messages.h"

#include "engine/reasons.h"

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
     "       tavrun-cli list|test --format lzh|zip SOURCE [options]\n"
     "\n"
     "compress puts every plain file of SOURCE_DIR into an archive of its own in TARGET_DIR;\n"
     "extract extracts every archive of SOURCE_DIR into TARGET_DIR, as the Tavrun window\n"
     "does. TARGET_DIR is made with its parents when missing. list shows the members of each\n"
     "archive (SOURCE: a directory or one archive); test reads every member as extraction\n"
     "would, writes nothing where your files are, and exits 1 naming each damaged archive.\n"
     "\n"
     "Options:\n"
     "  --format lzh|zip           archive format (required)\n"
     "  --settings FILE            take the options from a Tavrun.ini; the options below\n"
     "                             override it (compress, extract)\n"
     "  --dir-per-archive          extract each archive into a directory of its own\n"
     "  --overwrite                replace existing files and members without asking\n"
     "                             (not with compress --format zip)\n"
     "  --keep-existing            ZIP extraction: never replace an existing file\n"
     "  --ignore-dates             LZH: replace even when the existing one is newer\n"
     "  --no-readonly-overwrite    LZH extraction: never replace a read-only file\n"
     "  --archive-time             compress: give each archive the date of its newest member\n"
     "  --method lh0|lh5|lh6|lh7   LZH compression method (default lh5)\n"
     "  --level 0-9                ZIP compression level (default 6)\n"
     "  --password-file FILE       ZIP: the password is the first line of FILE. compress\n"
     "                             encrypts every member; extract, list and test open\n"
     "                             encrypted archives (without it they ask once on a\n"
     "                             terminal)\n"
     "  --encryption aes256|zipcrypto\n"
     "                             compress with --password-file: AES-256 (default; opens in\n"
     "                             7-Zip, bsdtar and Tavrun) or ZipCrypto (weak, but the one\n"
     "                             Windows' own extractor opens)\n"
     "  --no-progress-dialog       pass the libraries' no-progress-dialog switches\n"
     "  --log FILE                 append the Tavrun.log lines to FILE\n"
     "  --log-level 0|1|2|3|9      lines written to the log: 0 or 1 all, 2 warnings and\n"
     "                             errors, 3 errors, 9 none (default with --log: 1)\n"
     "  -j, --jobs N               files done at once (default or 0: the number of\n"
     "                             processors; never more than files or processors)\n"
     "  --json                     one JSON object per file or archive on standard output\n"
     "                             (file, archive, status, code, reason; members with list)\n"
     "                             and nothing else there\n"
     "  -q, --quiet                no progress line and no summary; failures only\n"
     "  -h, --help                 this text\n"
     "  -V, --version              the version\n"
     "\n"
     "Short options bundle (-qj2). Put -- before a path that starts with \"-\". An option\n"
     "that does not apply to the command or the format is an error.\n"
     "Nobody is asked anything but a password: an existing file or member that only a\n"
     "question could replace is kept, and the summary lists it. The summary goes to standard\n"
     "output, failures always to standard error. A password never appears in the log, the\n"
     "summary or a message, and never on a command line.\n"
     "Exit status: 0 all done, 1 some files failed (or standard output could not be\n"
     "written), 2 bad usage or unreadable directories, 130 interrupted.\n",
     "使い方: tavrun-cli compress|extract --format lzh|zip 元ディレクトリ 先ディレクトリ "
     "[オプション]\n"
     "        tavrun-cli list|test --format lzh|zip 元 [オプション]\n"
     "\n"
     "compress は元ディレクトリのファイルを一つずつ先ディレクトリの書庫に圧縮し、extract は\n"
     "元ディレクトリの書庫をすべて先ディレクトリに解凍します (Tavrun のウィンドウと同じ処理)。\n"
     "先ディレクトリがなければ親ディレクトリごと作ります。list は書庫の内容を表示し (元は\n"
     "ディレクトリか書庫一つ)、test は解凍と同じ検査で全メンバーを読み、利用者の場所には何も\n"
     "書かず、壊れた書庫があればその名前を表示して 1 で終了します。\n"
     "\n"
     "オプション:\n"
     "  --format lzh|zip           書庫の形式 (必須)\n"
     "  --settings ファイル        Tavrun.ini から設定を読む (以下のオプションが優先。\n"
     "                             compress と extract)\n"
     "  --dir-per-archive          書庫ごとにディレクトリを作って解凍する\n"
     "  --overwrite                確認せずに既存のファイル・メンバーを上書きする\n"
     "                             (compress --format zip を除く)\n"
     "  --keep-existing            ZIP 解凍: 既存のファイルを上書きしない\n"
     "  --ignore-dates             LZH: 日付をチェックしない\n"
     "  --no-readonly-overwrite    LZH 解凍: 読み取り専用ファイルを上書きしない\n"
     "  --archive-time             圧縮: 書庫の日付を最新のメンバーに合わせる\n"
     "  --method lh0|lh5|lh6|lh7   LZH の圧縮方式 (既定 lh5)\n"
     "  --level 0-9                ZIP の圧縮率 (既定 6)\n"
     "  --password-file ファイル   ZIP: ファイルの最初の行をパスワードにする。compress は\n"
     "                             全メンバーを暗号化し、extract・list・test は暗号化された\n"
     "                             書庫を開く (指定がなければ端末で一度だけ尋ねる)\n"
     "  --encryption aes256|zipcrypto\n"
     "                             --password-file 付きの圧縮: AES-256 (既定。7-Zip、bsdtar、\n"
     "                             Tavrun で開ける) か ZipCrypto (弱いが Windows 標準の展開\n"
     "                             機能で開ける)\n"
     "  --no-progress-dialog       ライブラリに進捗ダイアログなしのスイッチを渡す\n"
     "  --log ファイル             Tavrun.log の形式でログを追記する\n"
     "  --log-level 0|1|2|3|9      ログの出力レベル: 0,1 すべて、2 警告とエラー、3 エラー、\n"
     "                             9 なし (--log 指定時の既定は 1)\n"
     "  -j, --jobs N               同時に処理するファイル数 (既定または 0: プロセッサ数。\n"
     "                             ファイル数とプロセッサ数を超えない)\n"
     "  --json                     ファイル・書庫ごとに JSON を一行ずつ標準出力に書く (file、\n"
     "                             archive、status、code、reason。list は members も)。\n"
     "                             標準出力にはほかに何も書かない\n"
     "  -q, --quiet                進捗と結果を表示しない (失敗のみ表示)\n"
     "  -h, --help                 この説明\n"
     "  -V, --version              バージョン\n"
     "\n"
     "短いオプションはまとめて書けます (-qj2)。\"-\" で始まるパスの前には -- を置きます。\n"
     "コマンドや形式に当てはまらないオプションはエラーです。\n"
     "パスワード以外の確認は行いません: 確認なしでは上書きできない既存のファイル・メンバーは\n"
     "残し、結果に表示します。結果は標準出力に、失敗は常に標準エラーに出ます。パスワードは\n"
     "ログ・結果・メッセージにもコマンドラインにも現れません。\n"
     "終了コード: 0 正常終了、1 失敗したファイルあり (または標準出力に書けない)、\n"
     "2 使い方の誤り・ディレクトリを読めない、130 中断。\n"},
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
    {Msg::NotApplicable, "{} does not apply to {}", "{} は {} には指定できません"},
    {Msg::NeedsOption, "{} needs {}", "{} には {} が必要です"},
    {Msg::SourceNotFound, "the source is neither a directory nor a file: {}",
     "元がディレクトリでもファイルでもありません: {}"},
    {Msg::TargetUncreatable, "cannot make the target directory {}: {}",
     "圧縮・解凍先ディレクトリ {} を作れません: {}"},
    {Msg::PasswordPrompt,
     "Password (asked once for this run): ", "パスワード (この実行で一度だけ尋ねます): "},
    {Msg::PasswordEmpty, "its first line is empty", "最初の行が空です"},
    {Msg::PasswordUnreadable, "cannot read the password file {}: {}",
     "パスワードファイル {} を読めません: {}"},
    {Msg::OutputFailed, "cannot write the standard output: {}", "標準出力に書き込めません: {}"},
};

bool& JapaneseFlag() {
  static bool japanese = LocaleWantsJapanese();
  return japanese;
}

}  // namespace

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
