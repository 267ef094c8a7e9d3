// The per-file step both front ends share: what counts as done, kept, skipped and failed, and
// what the log says about it. The stand-in archivers play the libraries' answers; the real ones
// show the same for truncated archives and members kept by a newer date.
#include "engine/file_step.h"

#include <utime.h>

#include "engine/host.h"
#include "engine/operations.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

namespace fs = std::filesystem;

class FileStepTest : public EngineTest {
 protected:
  FilePlan Plan(Operation operation, const std::string& name) const {
    return PlanFile(operation, SwitchesFor(operation), in_, out_, name, false);
  }
  std::string message_;
};

// Named like an archive of the format, refused by the check: a failure (damaged, or unreadable
// with the system's reason). Any other name the check refuses is simply skipped, as before.
TEST_F(FileStepTest, ARefusedFileIsAFailureOnlyWhenNamedLikeAnArchiveOfTheFormat) {
  WriteFile(in_ + "cut_chk0.zip", "PK\x03\x04 cut short");
  WriteFile(in_ + "CUT_chk0.LZH", "-lh5- cut short");
  WriteFile(in_ + "photo_chk0.jpg", "\xff\xd8\xff");
  WriteFile(in_ + "old_chk0.lha", "x");
  struct Case {
    Operation operation;
    std::string name;
    FileStatus status;
    StepNote note;
    int32_t code;
  };
  const Case cases[] = {
      {Operation::ExtractZip, "cut_chk0.zip", FileStatus::Failed, StepNote::DamagedArchive, 3},
      {Operation::ExtractLzh, "CUT_chk0.LZH", FileStatus::Failed, StepNote::DamagedArchive, 3},
      {Operation::ExtractLzh, "old_chk0.lha", FileStatus::Failed, StepNote::DamagedArchive, 3},
      {Operation::ExtractZip, "gone_chk0.zip", FileStatus::Failed, StepNote::UnreadableArchive, 2},
      {Operation::ExtractZip, "photo_chk0.jpg", FileStatus::Skipped, StepNote::NotArchive, -1},
      {Operation::ExtractLzh, "cut_chk0.zip", FileStatus::Skipped, StepNote::NotArchive, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileResult result = RunFileStep(c.operation, Plan(c.operation, c.name), 0);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.note, c.note);
    EXPECT_EQ(result.code, c.code);
  }
  const FileResult gone =
      RunFileStep(Operation::ExtractZip, Plan(Operation::ExtractZip, "gone_chk0.zip"), 0);
  EXPECT_EQ(ReasonText(gone, false), "cannot read the archive: No such file or directory");

  // Through the window's operation: the run fails, the Parts' failure line comes first.
  EXPECT_FALSE(ExtractZip(window_, {"photo_chk0.jpg", "cut_chk0.zip"}, 2, message_));
  EXPECT_EQ(message_, "3");
  EXPECT_EQ(LogLines(), Expand({" [WARN] ZIP書庫ではありません。[UNZIP32:@i/photo_chk0.jpg]",
                                " [ERR] 3[UNZIP32:@i/cut_chk0.zip]",
                                " [ERR] 書庫が壊れているか、途中で切れています。[UNZIP32:@i/"
                                "cut_chk0.zip]"}));
}

// A call that succeeds but reports that it kept everything wrote nothing: kept, not done; the
// log keeps the success line and says so after it; the run still ends normally.
TEST_F(FileStepTest, ACallThatWroteNothingIsKeptNotDone) {
  const FileResult kept =
      RunFileStep(Operation::CompressLzh, Plan(Operation::CompressLzh, "a_kept.txt"), 0);
  EXPECT_EQ(kept.status, FileStatus::Kept);
  EXPECT_EQ(kept.note, StepNote::NothingWritten);
  ASSERT_EQ(kept.kept.size(), 1u);
  EXPECT_EQ(ReasonText(kept, false),
            "nothing written: what stood there was kept (the member in the archive is newer)");
  const FileResult done =
      RunFileStep(Operation::CompressLzh, Plan(Operation::CompressLzh, "b.txt"), 0);
  EXPECT_EQ(done.status, FileStatus::Done);

  ClearRunReports();  // as the window's run does when it starts
  EXPECT_TRUE(CompressZip(window_, {"a_kept.txt"}, 1, message_));
  EXPECT_EQ(LogLines(), Expand({" [INFO] ZIP圧縮しました。[ZIP32J:@i/a_kept.txt]",
                                " [WARN] 書き込まずに既存のものを残しました。[ZIP32J:@i/"
                                "a_kept.txt]"}));
  const std::vector<FileReport> reports = LastRunReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].status, FileStatus::Kept);
  EXPECT_EQ(reports[0].reasonEnglish, ReasonText(kept, false));
  EXPECT_EQ(reports[0].reasonJapanese,
            "書き込んだものはありません。既存のものを残しました（the member in the archive is "
            "newer）");
}

// With the target equal to the source, an archive made by an earlier run is listed too; it is
// never added to itself, and no library is called for it.
TEST_F(FileStepTest, AnArchiveIsNeverOneOfItsOwnSources) {
  WriteFile(in_ + "a.zip", "PK");
  WriteFile(in_ + "a.lzh", "lzh");
  const std::string into = in_;
  for (Operation operation : {Operation::CompressZip, Operation::CompressLzh}) {
    const std::string name = operation == Operation::CompressZip ? "a.zip" : "a.lzh";
    const FilePlan plan = PlanFile(operation, SwitchesFor(operation), in_, into, name, false);
    const FileResult result = RunFileStep(operation, plan, 0);
    EXPECT_EQ(result.status, FileStatus::Skipped) << name;
    EXPECT_EQ(result.note, StepNote::ArchiveIsSource) << name;
  }
  // The same file under another spelling of the directory is still the same file.
  const FilePlan dotted = PlanFile(Operation::CompressZip, "", in_, in_ + "./", "a.zip", false);
  EXPECT_EQ(RunFileStep(Operation::CompressZip, dotted, 0).note, StepNote::ArchiveIsSource);
  EXPECT_TRUE(Calls().empty() || Calls() == Lines{""});
}

// The session is the libraries' host while it lives: a second one does not take over, and its
// password memory is gone when it ends.
TEST_F(FileStepTest, TheRunSessionIsTheHostOnlyWhileItLives) {
  EXPECT_EQ(RunSession::Current(), nullptr);
  {
    RunSession session;
    EXPECT_EQ(RunSession::Current(), &session);
    {
      RunSession second;
      EXPECT_EQ(RunSession::Current(), &session);
    }
    session.RememberPassword("secret");
    std::string recalled;
    EXPECT_TRUE(session.RecallPassword(recalled));
    EXPECT_EQ(recalled, "secret");
  }
  EXPECT_EQ(RunSession::Current(), nullptr);
  RunSession next;
  std::string recalled;
  EXPECT_FALSE(next.RecallPassword(recalled));
}

class RealFileStepTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    UseRealLibraries();
  }
  FilePlan Plan(Operation operation, const std::string& from, const std::string& name) const {
    return PlanFile(operation, SwitchesFor(operation), from, out_, name, false);
  }
};

// Archives cut short are failures with the real checks, in both formats; a text file is not.
TEST_F(RealFileStepTest, TruncatedArchivesFailAndOtherFilesAreSkipped) {
  WriteFile(in_ + "data.txt", std::string(50000, 'a') + "tail");
  for (Operation make : {Operation::CompressZip, Operation::CompressLzh}) {
    ASSERT_EQ(RunFileStep(make, Plan(make, in_, "data.txt"), 0).status, FileStatus::Done);
  }
  const std::string cut = root_ + "/cut/";
  fs::create_directory(cut);
  for (const char* name : {"data.zip", "data.lzh"}) {
    const std::string whole = ReadFile(out_ + name);
    WriteFile(cut + name, whole.substr(0, whole.size() / 2));
  }
  WriteFile(cut + "notes.txt", "just text");
  EXPECT_EQ(
      RunFileStep(Operation::ExtractZip, Plan(Operation::ExtractZip, cut, "data.zip"), 0).note,
      StepNote::DamagedArchive);
  EXPECT_EQ(
      RunFileStep(Operation::ExtractLzh, Plan(Operation::ExtractLzh, cut, "data.lzh"), 0).note,
      StepNote::DamagedArchive);
  EXPECT_EQ(
      RunFileStep(Operation::ExtractZip, Plan(Operation::ExtractZip, cut, "notes.txt"), 0).status,
      FileStatus::Skipped);
}

// An older file is not put over the newer member: the libraries report it, and the step
// calls it kept, in both formats.
TEST_F(RealFileStepTest, AnOlderSourceThanTheMemberIsKept) {
  WriteFile(in_ + "doc.txt", "new");
  for (Operation make : {Operation::CompressZip, Operation::CompressLzh}) {
    ASSERT_EQ(RunFileStep(make, Plan(make, in_, "doc.txt"), 0).status, FileStatus::Done);
  }
  const utimbuf old{1000000000, 1000000000};
  utime((in_ + "doc.txt").c_str(), &old);
  for (Operation make : {Operation::CompressZip, Operation::CompressLzh}) {
    const FileResult again = RunFileStep(make, Plan(make, in_, "doc.txt"), 0);
    EXPECT_EQ(again.status, FileStatus::Kept) << static_cast<int>(make);
    EXPECT_EQ(again.written, 0);
  }
}

}  // namespace
}  // namespace tavrun::test
