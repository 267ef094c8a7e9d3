// The libraries' English reasons in Japanese: phrases with the path they carry, the C
// library's error texts after them, and everything unknown left as written.
#include "engine/reasons.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/file_step.h"

namespace tavrun {
namespace {

TEST(Reasons, KnownPhrasesKeepTheirPathsAndTranslateTheErrnoText) {
  const struct {
    const char* english;
    const char* japanese;
  } cases[] = {
      {"cannot create a file in the destination: Read-only file system",
       "出力先にファイルを作成できません: 読み込み専用のファイルシステムです"},
      {"cannot write /out/a b.lzh: No space left on device",
       "/out/a b.lzh に書き込めません: デバイスに空き領域がありません"},
      {"cannot create directory 新しい/フォルダ: Permission denied",
       "ディレクトリ 新しい/フォルダ を作成できません: アクセスが許可されていません"},
      {"wrong password", "パスワードが違います"},
      {"wrong password (CRC error after decryption)", "パスワードが違います（復号後のCRCエラー）"},
      {"wrong password, nothing extracted: /in/秘密.zip",
       "パスワードが違うため何も解凍していません: /in/秘密.zip"},
      {"stopped at the password question: /in/a.zip",
       "パスワードの入力で処理を中止しました: /in/a.zip"},
      {"cancelled at docs/a.txt; it was not written",
       "docs/a.txt でキャンセルされました。書き込んでいません"},
      {"cancelled", "キャンセルされました"},
      // A phrase inside a path is the path's, not a reason.
      {"cannot read /tmp/wrong password/cancelled: Is a directory",
       "/tmp/wrong password/cancelled を読み込めません: ディレクトリです"},
      // The longest phrase wins over one it begins with.
      {"cannot read the archive: No such file or directory",
       "書庫を読み込めません: ファイルやディレクトリがありません"},
      // Several lines, each on its own.
      {"kept (not newer): a.txt\nthe existing one is not older",
       "新しくないため残しました: a.txt\n既存のものが古くありません"},
  };
  for (const auto& c : cases) EXPECT_EQ(TranslateLibraryText(c.english), c.japanese) << c.english;
}

TEST(Reasons, UnknownTextStaysAsWritten) {
  for (const char* text : {"", "set times", "Zip archive inconsistent", "cancelledness",
                           "wrong passwords", "the member in the archive is newer"}) {
    EXPECT_EQ(TranslateLibraryText(text), text);
  }
  // An unknown clause keeps its words; a known errno text after it is still translated.
  EXPECT_EQ(TranslateLibraryText("utimensat: Operation not permitted"),
            "utimensat: 許可されていない操作です");
  EXPECT_EQ(TranslateLibraryText("cannot deflate a.txt: stream error"),
            "cannot deflate a.txt: stream error");
}

// Every errno value of the table is found through the C library's own English text.
TEST(Reasons, TheErrnoTableMatchesTheCLibrarysTexts) {
  for (int value : {EPERM,        ENOENT,    EIO,    EACCES, EBUSY,   EEXIST, EXDEV,  ENOTDIR,
                    EISDIR,       EINVAL,    ENFILE, EMFILE, ETXTBSY, EFBIG,  ENOSPC, EROFS,
                    ENAMETOOLONG, ENOTEMPTY, ELOOP,  ENOMEM, EDQUOT,  ESTALE}) {
    const std::string japanese = JapaneseErrnoText(value);
    ASSERT_FALSE(japanese.empty()) << value;
    EXPECT_EQ(TranslateLibraryText(std::string("x: ") + strerrordesc_np(value)), "x: " + japanese)
        << strerrordesc_np(value);
  }
  EXPECT_EQ(JapaneseErrnoText(EAGAIN), "");
}

// A file's reason is in Japanese only when asked for: the library's text, the engine's
// detail of an unreadable archive and the reason a file was kept.
TEST(Reasons, AFilesReasonIsTranslatedOnlyForJapanese) {
  FileResult failed;
  failed.note = StepNote::LibraryFailed;
  failed.code = 6;
  failed.errorText = "6";
  failed.libraryText = "cannot create a file in the destination: Read-only file system";
  EXPECT_EQ(ReasonText(failed, false), failed.libraryText);
  EXPECT_EQ(ReasonText(failed, true),
            "出力先にファイルを作成できません: 読み込み専用のファイルシステムです");
  failed.libraryText.clear();
  EXPECT_EQ(ReasonText(failed, true), "6") << "without a text the code is the reason";

  FileResult unreadable;
  unreadable.note = StepNote::UnreadableArchive;
  unreadable.detail = std::strerror(EACCES);
  EXPECT_EQ(ReasonText(unreadable, true), "書庫を読み込めません: アクセスが許可されていません");

  FileResult kept;
  kept.note = StepNote::NothingWritten;
  kept.kept = {{"a.txt", "answered no to all"}};
  EXPECT_EQ(ReasonText(kept, true),
            "書き込んだものはありません。既存のものを残しました（「すべていいえ」が選ばれました）");
  EXPECT_EQ(ReasonText(kept, false),
            "nothing written: what stood there was kept (answered no to all)");
}

}  // namespace
}  // namespace tavrun
