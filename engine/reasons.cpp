#include "engine/reasons.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace tavrun {
namespace {

// One phrase of the libraries. "{}" stands for what the library put in (a path, a member);
// it is carried over into the Japanese text where "{}" stands there.
struct Phrase {
  std::string_view english;
  std::string_view japanese;
};

// Longer phrases that begin like shorter ones are listed too; the longest match wins.
constexpr Phrase kPhrases[] = {
    // Writing the output.
    {"cannot create a file in the destination", "出力先にファイルを作成できません"},
    {"cannot create a temporary file beside {}", "{} の隣に一時ファイルを作成できません"},
    {"cannot write a temporary file in {}", "{} に一時ファイルを書き込めません"},
    {"cannot create directory {}", "ディレクトリ {} を作成できません"},
    {"cannot open the destination directory {}", "出力先ディレクトリ {} を開けません"},
    {"cannot open the destination", "出力先を開けません"},
    {"cannot write the archive", "書庫に書き込めません"},
    {"cannot write to {}", "{} に書き込めません"},
    {"cannot write {}", "{} に書き込めません"},
    {"cannot replace {}", "{} を置き換えられません"},
    {"cannot set the mode of {}", "{} の属性を設定できません"},
    {"not written, a symbolic link stands at {}",
     "{} にシンボリックリンクがあるため書き込んでいません"},
    {"not written, something other than a file stands at {}",
     "{} にファイル以外のものがあるため書き込んでいません"},
    // Reading the sources and the archive.
    {"cannot read the archive directory", "書庫の目録を読み込めません"},
    {"cannot read the central directory", "セントラルディレクトリを読み込めません"},
    {"cannot read the archive {}", "書庫 {} を読み込めません"},
    {"cannot read the archive", "書庫を読み込めません"},
    {"cannot read the member data: {}", "格納ファイルのデータを読み込めません: {}"},
    {"cannot read {}", "{} を読み込めません"},
    {"cannot open the archive {}", "書庫 {} を開けません"},
    {"cannot access the archive {}", "書庫 {} にアクセスできません"},
    {"cannot open directory {}", "ディレクトリ {} を開けません"},
    {"cannot open {}", "{} を開けません"},
    {"not a regular file: {}", "通常のファイルではありません: {}"},
    {"the archive is not a regular file: {}", "書庫が通常のファイルではありません: {}"},
    {"the archive path is not a regular file: {}", "書庫の場所が通常のファイルではありません: {}"},
    {"the archive path is a symbolic link to nothing: {}",
     "書庫の場所がリンク切れのシンボリックリンクです: {}"},
    {"the directory of the archive does not exist: {}", "書庫のディレクトリがありません: {}"},
    // Passwords and the user's answers.
    {"wrong password (CRC error after decryption)", "パスワードが違います（復号後のCRCエラー）"},
    {"wrong password, nothing extracted: {}", "パスワードが違うため何も解凍していません: {}"},
    {"wrong password", "パスワードが違います"},
    {"skipped, nothing extracted: {}", "スキップしたため何も解凍していません: {}"},
    {"stopped at the password question: {}", "パスワードの入力で処理を中止しました: {}"},
    {"encrypted with a method this library cannot decrypt",
     "このライブラリでは復号できない方式で暗号化されています"},
    {"cancelled at {}; it was not written", "{} でキャンセルされました。書き込んでいません"},
    {"cancelled; the archive was not changed", "キャンセルされました。書庫は変更していません"},
    {"cancelled while another program was writing the archive",
     "他のプログラムが書庫を書き込んでいる間にキャンセルされました"},
    {"cancelled", "キャンセルされました"},
    {"answered no to all", "「すべていいえ」が選ばれました"},
    {"answered no", "「いいえ」が選ばれました"},
    {"nobody could be asked", "上書きを確認できる画面がありません"},
    {"never replaced (the options say so)", "上書きしない設定です"},
    {"the existing one is not older", "既存のものが古くありません"},
    {"the member in the archive is not older", "書庫内のものが古くありません"},
    {"kept (not newer): {}", "新しくないため残しました: {}"},
    {"kept the existing file {}", "既存のファイル {} を残しました"},
    {"the archive is up to date", "書庫は最新です"},
    {"nothing to add", "追加するものがありません"},
    // Damaged or unusual archives.
    {"not an LZH archive (empty file); it was not changed: {}",
     "LZH書庫ではありません（空のファイル）。変更していません: {}"},
    {"not an LZH archive", "LZH書庫ではありません"},
    {"too short for an archive", "書庫としては短すぎます"},
    {"the compressed data is damaged", "圧縮データが壊れています"},
    {"the compressed data ends too early", "圧縮データが途中で切れています"},
    {"the compressed data has the wrong size", "圧縮データの大きさが合いません"},
    {"header CRC error", "ヘッダのCRCエラー"},
    {"header checksum error", "ヘッダのチェックサムエラー"},
    {"damaged header", "ヘッダが壊れています"},
    {"truncated header", "ヘッダが途中で切れています"},
    {"damaged central directory", "セントラルディレクトリが壊れています"},
    {"no end of central directory", "セントラルディレクトリの終端がありません"},
    {"two members have the same name", "同じ名前の格納ファイルが二つあります"},
    {"unsafe member name: {}", "安全でない格納名です: {}"},
    {"member name leads out of the destination: {}", "格納名が出力先の外を指しています: {}"},
    {"symbolic link not created: {}", "シンボリックリンクを作成していません: {}"},
    {"out of memory", "メモリが足りません"},
    {"unexpected error", "予期しないエラー"},
};

// The C library's texts the libraries append after ": ", by errno value. The English text
// is the C library's own description of the value, whatever the process's locale.
struct ErrnoPhrase {
  int value;
  std::string_view japanese;
};
constexpr ErrnoPhrase kErrnoPhrases[] = {
    {EPERM, "許可されていない操作です"},
    {ENOENT, "ファイルやディレクトリがありません"},
    {EIO, "入出力エラーです"},
    {EACCES, "アクセスが許可されていません"},
    {EBUSY, "デバイスまたはリソースが使用中です"},
    {EEXIST, "ファイルが既にあります"},
    {EXDEV, "別のデバイスをまたいだリンクです"},
    {ENOTDIR, "ディレクトリではありません"},
    {EISDIR, "ディレクトリです"},
    {EINVAL, "引数が無効です"},
    {ENFILE, "システム全体で開いているファイルが多すぎます"},
    {EMFILE, "開いているファイルが多すぎます"},
    {ETXTBSY, "実行中のファイルです"},
    {EFBIG, "ファイルが大きすぎます"},
    {ENOSPC, "デバイスに空き領域がありません"},
    {EROFS, "読み込み専用のファイルシステムです"},
    {ENAMETOOLONG, "ファイル名が長すぎます"},
    {ENOTEMPTY, "ディレクトリが空ではありません"},
    {ELOOP, "シンボリックリンクの階層が多すぎます"},
    {ENOMEM, "メモリを確保できません"},
    {EDQUOT, "ディスク使用量の制限を超えました"},
    {ESTALE, "ファイルハンドルが古くなっています"},
};

// A clause starts the text or follows one of these; phrases are looked for only there, so
// a word inside a path is never taken for one.
constexpr std::string_view kSeparators[] = {": ", "; ", " ("};

size_t NextClause(std::string_view text, size_t from) {
  size_t best = text.size();
  for (std::string_view separator : kSeparators) {
    const size_t at = text.find(separator, from);
    if (at != std::string_view::npos && at + separator.size() < best) {
      best = at + separator.size();
    }
  }
  return best;
}

// Where a clause may end: the end of the line, a separator, or closing punctuation.
bool AtClauseEnd(std::string_view text, size_t at) {
  if (at == text.size()) return true;
  if (text[at] == ')' || text[at] == ',' || text[at] == ';' || text[at] == ':') return true;
  return text.substr(at, 2) == " (";
}

struct Match {
  size_t end = 0;  // 0: none
  std::string text;
};

// `phrase` at `at`: its literal start, then what the library put in up to the literal rest
// (or to the next clause when nothing follows the placeholder).
Match MatchPhrase(std::string_view text, size_t at, const Phrase& phrase) {
  const size_t hole = phrase.english.find("{}");
  const std::string_view head = phrase.english.substr(0, hole);
  if (text.substr(at, head.size()) != head) return {};
  if (hole == std::string_view::npos) {
    if (!AtClauseEnd(text, at + head.size())) return {};
    return {at + head.size(), std::string(phrase.japanese)};
  }
  const std::string_view tail = phrase.english.substr(hole + 2);
  const size_t from = at + head.size();
  size_t end = 0, argumentEnd = 0;
  if (tail.empty()) {
    // Every separator is two characters long.
    const size_t next = NextClause(text, from);
    argumentEnd = next == text.size() ? next : next - 2;
    end = argumentEnd;
  } else {
    argumentEnd = text.find(tail, from);
    if (argumentEnd == std::string_view::npos) return {};
    end = argumentEnd + tail.size();
  }
  if (argumentEnd <= from) return {};
  std::string translated(phrase.japanese);
  translated.replace(translated.find("{}"), 2, text.substr(from, argumentEnd - from));
  return {end, translated};
}

Match MatchErrno(std::string_view text, size_t at) {
  for (const ErrnoPhrase& phrase : kErrnoPhrases) {
    const char* english = strerrordesc_np(phrase.value);
    if (english == nullptr) continue;
    const std::string_view name(english);
    if (text.substr(at, name.size()) == name && AtClauseEnd(text, at + name.size())) {
      return {at + name.size(), std::string(phrase.japanese)};
    }
  }
  return {};
}

Match BestAt(std::string_view text, size_t at) {
  Match best = MatchErrno(text, at);
  for (const Phrase& phrase : kPhrases) {
    Match match = MatchPhrase(text, at, phrase);
    if (match.end > best.end) best = std::move(match);
  }
  return best;
}

std::string TranslateLine(std::string_view line) {
  std::string out;
  size_t at = 0;
  while (at < line.size()) {
    Match match = BestAt(line, at);
    if (match.end > at) {
      out += match.text;
      at = match.end;
      continue;
    }
    const size_t next = NextClause(line, at);
    out.append(line.substr(at, next - at));
    at = next;
  }
  return out;
}

}  // namespace

bool LocaleWantsJapanese() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::strncmp(value, "ja", 2) == 0;
  }
  return false;
}

std::string JapaneseErrnoText(int value) {
  for (const ErrnoPhrase& phrase : kErrnoPhrases) {
    if (phrase.value == value) return std::string(phrase.japanese);
  }
  return {};
}

std::string TranslateLibraryText(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    out += TranslateLine(std::string_view(text).substr(at, end - at));
    if (end == text.size()) break;
    out += '\n';
    at = end + 1;
  }
  return out;
}

}  // namespace tavrun
