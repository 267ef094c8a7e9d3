// Password-protected archives made by other tools, extracted with scripted answers to the
// password dialog (offscreen): right and wrong passwords, Japanese ones, skipping, and one
// password for a whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <thread>

#include "tests/common/test_host.h"
#include "zip_crypt_util.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

const std::string kSkip = "\x01skip";   // an answer that presses "この書庫をスキップ"
const std::string kStop = "\x01stop";   // presses "処理を中止"
const std::string kEscape = "\x01esc";  // the Escape key

// What one shown dialog looked like.
struct Seen {
  std::string title, archiveName;
  bool retry = false, hidden = false, okWhileEmpty = true, modalToOwner = false;
};

// Answers each password dialog as it is shown with the next answer, and records it.
class Answerer {
 public:
  Answerer(QWidget* owner, std::vector<std::string> answers) : state_(std::make_shared<State>()) {
    state_->answers = std::move(answers);
    timer_ = new QTimer(owner);
    QObject::connect(timer_, &QTimer::timeout, [s = state_, owner] { Step(*s, owner); });
    timer_->start(0);
  }
  ~Answerer() { delete timer_.data(); }
  const std::vector<Seen>& seen() const { return state_->seen; }
  size_t left() const { return state_->answers.size() - state_->next; }

 private:
  struct State {
    std::vector<std::string> answers;
    size_t next = 0;
    std::vector<Seen> seen;
  };
  static void Step(State& s, QWidget* owner) {
    auto* dialog = owner->findChild<QDialog*>(QStringLiteral("passwordDialog"));
    if (dialog == nullptr || !dialog->isVisible()) return;
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("password"));
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("ok"));
    auto* skip = dialog->findChild<QPushButton*>(QStringLiteral("skip"));
    auto* name = dialog->findChild<QLabel*>(QStringLiteral("archiveName"));
    auto* wrong = dialog->findChild<QLabel*>(QStringLiteral("wrongPassword"));
    if (!edit || !ok || !skip || !name || !wrong) return;
    Seen seen;
    seen.title = dialog->windowTitle().toStdString();
    seen.archiveName = name->text().toStdString();
    seen.retry = wrong->isVisible();
    seen.hidden = edit->echoMode() == QLineEdit::Password;
    seen.okWhileEmpty = ok->isEnabled();
    seen.modalToOwner = dialog->isModal() && dialog->parentWidget() == owner;
    s.seen.push_back(seen);
    if (s.next == s.answers.size()) {
      skip->click();  // more questions than the test expected: end them
      return;
    }
    const std::string answer = s.answers[s.next++];
    if (answer == kSkip) {
      skip->click();
      return;
    }
    if (answer == kStop) {
      if (auto* stop = dialog->findChild<QPushButton*>(QStringLiteral("stop"))) stop->click();
      return;
    }
    if (answer == kEscape) {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(dialog, &escape);
      return;
    }
    edit->setText(QString::fromStdString(answer));
    ok->click();
  }
  std::shared_ptr<State> state_;
  QPointer<QTimer> timer_;
};

bool IsFile(const std::string& relative) {
  return relative.back() != '/';
}

std::set<std::string> Files(const std::string& dir) {
  std::set<std::string> out;
  for (const std::string& p : ListTree(dir))
    if (IsFile(p)) out.insert(p);
  return out;
}

class ZipPassword : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_.show();
    window_ = uintptr_t(owner_.winId());
    mkdir((src_ / "フォルダ").c_str(), 0755);
    WriteFile(src_ / "フォルダ/データ.txt", TextData(30000, 7));
    WriteFile(src_ / "plain.txt", "plain text\n");
  }
  // Runs `make` (a tool's command line, followed by the archive and the files) in the source
  // directory.
  std::string Make(const std::string& make, const std::string& name,
                   const std::string& files = "フォルダ plain.txt") {
    const std::string tool = make.substr(0, make.find(' '));
    EXPECT_TRUE(HaveTool(tool)) << tool << " is missing: run scripts/install-deps.sh";
    const std::string archive = work_ / name;
    EXPECT_EQ(Shell("cd " + Sh(src_.path()) + " && " + make + " " + Sh(archive) + " " + files +
                    " >/dev/null 2>&1"),
              0)
        << make;
    return archive;
  }
  void ExpectAllExtracted(const std::string& dest, const std::string& label) {
    EXPECT_EQ(Files(dest), (std::set<std::string>{"フォルダ/データ.txt", "plain.txt"})) << label;
    EXPECT_EQ(ReadFile(dest + "/フォルダ/データ.txt"), TextData(30000, 7)) << label;
    EXPECT_EQ(ReadFile(dest + "/plain.txt"), "plain text\n") << label;
  }
  // Extracts `archives` one after another on a worker thread, as the engine calls the library
  // during a run, while this thread serves the dialogs; each into `tag` and its number.
  std::vector<int32_t> ExtractOnWorker(const std::vector<std::string>& archives,
                                       const std::string& tag) {
    std::vector<int32_t> codes;
    QEventLoop loop;
    std::thread worker([&] {
      for (size_t i = 0; i < archives.size(); ++i)
        codes.push_back(
            UnZipTo("-x -qq --i", archives[i], work_ / (tag + std::to_string(i)), window_).code);
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return codes;
  }
  QWidget owner_;
  uintptr_t window_ = 0;
  TempDir src_, work_;
};

// 表 is 0x95 0x5C in CP932: a backslash byte inside the password.
const std::string kJapanese = "秘密の表";

}  // namespace

TEST_F(ZipPassword, ArchivesFromOtherToolsOpenWithTheirPassword) {
  const struct {
    const char* label;
    std::string make;
    std::string password;  // as typed
  } cases[] = {
      {"7zz AES-256", "7zz a -tzip -mem=AES256 -p'Pass word!'", "Pass word!"},
      {"7zz AES-128", "7zz a -tzip -mem=AES128 -psecret", "secret"},
      {"7zz AES-192, stored", "7zz a -tzip -mem=AES192 -mm=Copy -psecret", "secret"},
      {"7zz traditional", "7zz a -tzip -mem=ZipCrypto -psecret", "secret"},
      {"zip traditional", "zip -q -r -P secret", "secret"},
      // As a Japanese Windows tool writes it: the password hashed in CP932.
      {"zip traditional, CP932",
       "zip -q -r -P \"$(printf %s '" + kJapanese + "' | iconv -t CP932)\"", kJapanese},
      {"zip traditional, UTF-8", "zip -q -r -P '" + kJapanese + "'", kJapanese},
      {"bsdtar AES-256, Japanese",
       "bsdtar --format zip --options zip:encryption=aes256 --passphrase '" + kJapanese + "' -cf",
       kJapanese},
      {"bsdtar traditional",
       "bsdtar --format zip --options zip:encryption=zipcrypt "
       "--passphrase secret -cf",
       "secret"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "書庫" + std::to_string(++n) + ".zip";
    const std::string archive = Make(c.make, name), dest = work_ / std::to_string(n);
    EXPECT_EQ(Check(archive), 1) << c.label;  // an encrypted archive is a ZIP archive
    EXPECT_EQ(Check(archive, 2), 0) << c.label;

    // Nobody to ask: the encrypted members stay unwritten.
    Result r = UnZipTo("-x -qq --i", archive, dest + "-nowindow");
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_ENCRYPTED) << c.label << r.output;
    EXPECT_TRUE(Files(dest + "-nowindow").empty()) << c.label;

    // A wrong password is asked again; the right one opens everything.
    Answerer answers(&owner_, {"wrong", c.password});
    r = UnZipTo("-x --i", archive, dest, window_);
    EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << c.label << r.output;
    ExpectAllExtracted(dest, c.label);
    EXPECT_EQ(r.output.find(c.password), std::string::npos) << c.label;
    ASSERT_EQ(answers.seen().size(), 2u) << c.label;
    EXPECT_FALSE(answers.seen()[0].retry) << c.label;
    EXPECT_TRUE(answers.seen()[1].retry) << c.label;
    for (const Seen& s : answers.seen()) {
      EXPECT_EQ(s.title, "ZIP解凍") << c.label;
      EXPECT_EQ(s.archiveName, name) << c.label;
      EXPECT_TRUE(s.hidden) << c.label;
      EXPECT_FALSE(s.okWhileEmpty) << c.label;
      EXPECT_TRUE(s.modalToOwner) << c.label;
    }
  }
}

TEST_F(ZipPassword, SkippingOrGivingUpWritesNothingOfTheArchive) {
  // A plain member first, then an encrypted one: neither may be written.
  const std::string archive = Make("zip -q", "mixed.zip", "plain.txt");
  Make("zip -q -r -P secret", "mixed.zip", "フォルダ");
  const struct {
    const char* label;
    std::vector<std::string> answers;
    size_t asked;
  } cases[] = {
      {"skip", {kSkip}, 1},
      {"wrong, then skip", {"bad", kSkip}, 2},
      {"wrong every time", std::vector<std::string>(10, "bad"), 5},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string dest = work_ / ("d" + std::to_string(++n));
    Answerer answers(&owner_, c.answers);
    Result r = UnZipTo("-x --i", archive, dest, window_);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_PASSWORD) << c.label << r.output;
    EXPECT_NE(r.output.find("mixed.zip"), std::string::npos) << c.label << r.output;
    EXPECT_TRUE(ListTree(dest).empty()) << c.label;
    EXPECT_EQ(answers.seen().size(), c.asked) << c.label;
  }
}

TEST_F(ZipPassword, MixedPlainAndEncryptedMembers) {
  const std::string archive = Make("zip -q", "mixed.zip", "plain.txt");
  Make("zip -q -r -P secret", "mixed.zip", "フォルダ");
  // Without a window the plain member is extracted as before; nobody is asked.
  Result r = UnZipTo("-x -qq --i", archive, work_ / "a");
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_ENCRYPTED) << r.output;
  EXPECT_EQ(Files(work_ / "a"), std::set<std::string>{"plain.txt"});
  Answerer answers(&owner_, {"secret"});
  r = UnZipTo("-x -qq --i", archive, work_ / "b", window_);
  EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << r.output;
  ExpectAllExtracted(work_ / "b", "mixed");
  EXPECT_EQ(answers.seen().size(), 1u);
  // An archive without encrypted members never asks.
  const std::string plain = Make("zip -q -r", "plain.zip");
  Answerer none(&owner_, {});
  EXPECT_EQ(UnZipTo("-x -qq --i", plain, work_ / "c", window_).code, TAVRUN_ZIP_OK);
  EXPECT_TRUE(none.seen().empty());
}

// One archive with both kinds of encryption and a Japanese password, as two tools would have
// written it: the traditional member hashed in CP932, the AES member in UTF-8.
TEST_F(ZipPassword, BothKindsOfEncryptionInOneArchive) {
  std::string cp932;
  ASSERT_EQ(Shell("printf %s " + Sh(kJapanese) + " | iconv -t CP932", &cp932), 0);
  const std::string archive = work_ / "both.zip";
  const std::string data = TextData(5000, 3);
  int err = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(za, nullptr);
  const struct {
    const char* name;
    zip_uint16_t method;
    std::string password;
  } members[] = {{"trad.txt", ZIP_EM_TRAD_PKWARE, cp932}, {"aes.txt", ZIP_EM_AES_256, kJapanese}};
  for (const auto& m : members) {
    zip_int64_t i = zip_file_add(za, m.name, zip_source_buffer(za, data.data(), data.size(), 0), 0);
    ASSERT_GE(i, 0);
    ASSERT_EQ(zip_file_set_encryption(za, zip_uint64_t(i), m.method, m.password.c_str()), 0);
  }
  ASSERT_EQ(zip_close(za), 0);
  Answerer answers(&owner_, {kJapanese});
  Result r = UnZipTo("-qq --i", archive, work_ / "d", window_);
  EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << r.output;
  EXPECT_EQ(answers.seen().size(), 1u);
  EXPECT_EQ(ReadFile(work_ / "d/trad.txt"), data);
  EXPECT_EQ(ReadFile(work_ / "d/aes.txt"), data);
}

// The traditional check byte lets one wrong password in 256 through; the CRC must catch it
// while the password is being settled. A member damaged after that is damaged data.
TEST_F(ZipPassword, CrcDecidesTheTraditionalPasswordAndDamageIsDamage) {
  const std::string archive = Make("zip -q -0 -P secret", "one.zip", "plain.txt");
  std::string impostor;
  int err = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &err);
  ASSERT_NE(za, nullptr);
  for (int i = 0; i < 100000 && impostor.empty(); ++i) {
    const std::string guess = "w" + std::to_string(i);
    if (zip_file_t* f = zip_fopen_index_encrypted(za, 0, 0, guess.c_str())) {
      zip_fclose(f);
      impostor = guess;
    }
  }
  zip_discard(za);
  ASSERT_FALSE(impostor.empty()) << "no password passed the check byte";
  Result r;
  {
    Answerer answers(&owner_, {impostor, "secret"});
    r = UnZipTo("-qq --i", archive, work_ / "a", window_);
    EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << r.output;
    EXPECT_EQ(answers.seen().size(), 2u) << impostor;
  }
  EXPECT_EQ(ReadFile(work_ / "a/plain.txt"), "plain text\n");

  // Two members; the larger one's data is damaged. The smaller settles the password, the
  // larger fails its CRC (or AES authentication code) after decryption: damaged data, not
  // written, and the other member still comes out.
  WriteFile(src_ / "big.txt", TextData(30000, 7));
  const struct {
    const char* label;
    std::string make;
    int32_t code;
  } damaged[] = {
      {"traditional, stored", "zip -q -0 -P secret", TAVRUN_ZIP_E_DATA},
      {"AES-256, stored", "7zz a -tzip -mem=AES256 -mm=Copy -psecret", TAVRUN_ZIP_E_DATA},
      // A stream cipher flips the same bit of the deflate stream, which inflate notices first.
      {"AES-256, deflated", "7zz a -tzip -mem=AES256 -psecret", TAVRUN_ZIP_E_DATA},
  };
  int n = 0;
  for (const auto& c : damaged) {
    const std::string two = Make(c.make, "two" + std::to_string(++n) + ".zip", "plain.txt big.txt");
    std::string bytes = ReadFile(two);
    const size_t header = FindHeader(bytes, "big.txt");
    const size_t extra = uint8_t(bytes[header + 28]) | uint8_t(bytes[header + 29]) << 8;
    bytes[header + 30 + 7 + extra + 100] ^= 0x55;
    WriteFile(two, bytes);
    const std::string dest = work_ / ("b" + std::to_string(n));
    Answerer again(&owner_, {"secret"});
    r = UnZipTo("-qq --i", two, dest, window_);
    EXPECT_EQ(r.code, c.code) << c.label << r.output;
    EXPECT_EQ(Files(dest), std::set<std::string>{"plain.txt"}) << c.label << r.output;
    EXPECT_EQ(again.seen().size(), 1u) << c.label;
  }
}

// Every method we extract, encrypted both ways, as 7-Zip writes it: the password is checked by
// the encryption headers and CRCs, never by whether libzip knows the method.
TEST_F(ZipPassword, EveryMethodDecryptsWithItsPassword) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz not installed (scripts/install-deps.sh)";
  int n = 0;
  for (const char* method : {"Copy", "Deflate", "BZip2", "LZMA", "XZ"})
    for (const char* cipher : {"AES256", "ZipCrypto"}) {
      const std::string label = std::string(method) + "/" + cipher;
      const std::string archive =
          Make(std::string("7zz a -tzip -mm=") + method + " -mem=" + cipher + " -psecret",
               "m" + std::to_string(++n) + ".zip");
      const std::string dest = work_ / ("m" + std::to_string(n));
      {
        Answerer wrong(&owner_, std::vector<std::string>(5, "wrong"));
        EXPECT_EQ(UnZipTo("-x -qq --i", archive, dest + "-wrong", window_).code,
                  TAVRUN_ZIP_E_PASSWORD)
            << label;
        EXPECT_EQ(wrong.seen().size(), 5u) << label;
        EXPECT_TRUE(ListTree(dest + "-wrong").empty()) << label;
      }
      Answerer answers(&owner_, {"secret"});
      Result r = UnZipTo("-x -qq --i", archive, dest, window_);
      EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << label << r.output;
      EXPECT_EQ(answers.seen().size(), 1u) << label;
      ExpectAllExtracted(dest, label);
    }
}

// Zstandard, xz and LZMA members no installed tool encrypts, written by the test with both
// kinds of encryption and both AES versions, in one archive with one password.
TEST_F(ZipPassword, CraftedMembersOfEveryMethodAndCipher) {
  const std::string data = TextData(200000, 11);
  struct Method {
    const char* name;
    uint16_t id;
    std::string compressed;
  } methods[] = {{"zstd", 93, ZstdCompress(data)},
                 {"xz", 95, XzCompress(data)},
                 {"lzma", 14, LzmaCompress(data, 1 << 20, 1 << 20)},
                 {"bzip2", 12, ""},
                 {"deflate", 8, Deflate(data)}};
  std::string bz2;
  ASSERT_EQ(Shell("printf %s " + Sh(data.substr(0, 1000)) + " | bzip2 -c", &bz2), 0);
  methods[3].compressed = bz2;
  std::vector<HandMember> members;
  for (const Method& m : methods) {
    const std::string content = m.id == 12 ? data.substr(0, 1000) : data;
    members.push_back(EncryptedMember(std::string(m.name) + ".trad", content, m.id, m.compressed,
                                      Cipher::Traditional, "secret"));
    members.push_back(EncryptedMember(std::string(m.name) + ".ae2", content, m.id, m.compressed,
                                      Cipher::Aes256, "secret", 2));
    members.push_back(EncryptedMember(std::string(m.name) + ".ae1", content, m.id, m.compressed,
                                      Cipher::Aes256, "secret", 1));
  }
  const std::string archive = work_ / "crafted.zip";
  WriteFile(archive, HandZip(members));
  if (HaveTool("7zz")) {  // 7-Zip reads what the helper writes: the helper follows the format
    std::string said;
    EXPECT_EQ(Shell("7zz t -psecret " + Sh(archive) + " 2>&1", &said), 0) << said;
  }
  Answerer answers(&owner_, {"wrong", "secret"});
  Result r = UnZipTo("-qq --i", archive, work_ / "c", window_);
  EXPECT_EQ(r.code, TAVRUN_ZIP_OK) << r.output;
  EXPECT_EQ(answers.seen().size(), 2u);
  for (const HandMember& m : members)
    EXPECT_EQ(ReadFile(work_ / ("c/" + m.name)),
              m.name.rfind("bzip2", 0) == 0 ? data.substr(0, 1000) : data)
        << m.name;
}

// Tampered AES data fails its authentication code with the right password: damaged data, the
// other members come out, and the password is still accepted by its verifier even when the
// tampered member is the smallest. A damaged smallest traditional member does not refuse the
// password either while another member's CRC confirms it.
TEST_F(ZipPassword, TamperedMembersAreDamagedDataWithTheRightPassword) {
  const std::string small = "small member\n", big = TextData(50000, 5);
  for (Cipher cipher : {Cipher::Aes256, Cipher::Traditional}) {
    const char* label = cipher == Cipher::Aes256 ? "AES" : "traditional";
    std::vector<HandMember> members = {
        EncryptedMember("small.txt", small, 0, small, cipher, "secret"),
        EncryptedMember("big.txt", big, 8, Deflate(big), cipher, "secret"),
        EncryptedMember("lz.txt", big, 14, LzmaCompress(big, 1 << 16, 1 << 16), cipher, "secret")};
    // The last data byte of the smallest member: for AES inside the authenticated data.
    members[0].stored[members[0].stored.size() - (cipher == Cipher::Aes256 ? 11 : 1)] ^= 0x20;
    const std::string archive = work_ / (std::string(label) + ".zip");
    WriteFile(archive, HandZip(members));
    Answerer answers(&owner_, {"secret"});
    const std::string dest = work_ / label;
    Result r = UnZipTo("-qq --i", archive, dest, window_);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_DATA) << label << r.output;
    EXPECT_NE(r.output.find("small.txt"), std::string::npos) << label << r.output;
    EXPECT_EQ(answers.seen().size(), 1u) << label;
    EXPECT_EQ(Files(dest), (std::set<std::string>{"big.txt", "lz.txt"})) << label;
    EXPECT_EQ(ReadFile(dest + "/lz.txt"), big) << label;
  }
}

// The engine calls the library off the UI thread during a run; the dialog still appears on the
// UI thread, and the password that opened one archive opens the next ones of the run.
TEST_F(ZipPassword, OneRunOnePassword) {
  const std::vector<std::string> archives = {
      Make("zip -q -r -P secret", "a.zip"),
      Make("7zz a -tzip -mem=AES256 -psecret", "b.zip"),
      Make("bsdtar --format zip --options zip:encryption=zipcrypt --passphrase secret -cf",
           "c.zip"),
      Make("zip -q -r -P other", "d.zip"),
  };
  // The first `count` archives, each into `tag` and its number.
  auto runBatch = [&](size_t count, const std::string& tag) {
    return ExtractOnWorker({archives.begin(), archives.begin() + ptrdiff_t(count)}, tag);
  };
  auto scope = std::make_unique<tavrun::test::TestHost>();
  ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", scope->Table()));
  {
    Answerer answers(&owner_, {"secret", "other"});
    EXPECT_EQ(runBatch(4, "run"), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(answers.seen().size(), 2u);  // once for the three, once for the odd one out
    for (size_t i = 0; i < archives.size(); ++i)
      ExpectAllExtracted(work_ / ("run" + std::to_string(i)), archives[i]);
  }
  // The password is held by the host's run: a new run starts without it.
  EXPECT_TRUE(scope->KeepsPassword());
  scope = std::make_unique<tavrun::test::TestHost>();
  ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", scope->Table()));
  {
    Answerer answers(&owner_, {"secret", "secret"});
    EXPECT_EQ(runBatch(2, "after"), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(answers.seen().size(), 1u);
  }
  // Without a host nothing outlives a call: each archive asks.
  ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", nullptr));
  {
    Answerer answers(&owner_, {"secret", "secret"});
    EXPECT_EQ(runBatch(2, "alone"), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(answers.seen().size(), 2u);
  }
}

// "処理を中止" stops the whole run, as Cancel on a progress dialog does: the call ends with the
// cancel's code, nothing of the archive is written, and no later archive of the run is asked
// for. Esc (like the close box) skips only the archive at hand.
TEST_F(ZipPassword, StopEndsTheRunWhileEscapeSkipsOneArchive) {
  const std::vector<std::string> archives = {Make("zip -q -r -P secret", "a.zip"),
                                             Make("zip -q -r -P other", "b.zip"),
                                             Make("zip -q -r -P third", "c.zip")};
  // Every archive of the batch is called, as a caller that ignored the cancel would.
  auto runBatch = [&](const std::string& tag) { return ExtractOnWorker(archives, tag); };
  {
    tavrun::test::TestHost host;
    ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", host.Table()));
    Answerer answers(&owner_, {kStop});
    const std::vector<int32_t> codes = runBatch("stop");
    EXPECT_EQ(codes[0], TAVRUN_ZIP_E_CANCELLED);
    EXPECT_TRUE(host.cancel.load()) << "the run itself is cancelled, not just the call";
    EXPECT_EQ(answers.seen().size(), 1u) << "a later archive of the stopped run was asked for";
    for (size_t i = 1; i < codes.size(); ++i) EXPECT_EQ(codes[i], TAVRUN_ZIP_E_CANCELLED) << i;
    for (size_t i = 0; i < archives.size(); ++i)
      EXPECT_TRUE(Files(work_ / ("stop" + std::to_string(i))).empty()) << i;
  }
  {
    tavrun::test::TestHost host;
    ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", host.Table()));
    Answerer answers(&owner_, {kEscape, "other", kEscape});
    EXPECT_EQ(runBatch("esc"),
              (std::vector<int32_t>{TAVRUN_ZIP_E_PASSWORD, TAVRUN_ZIP_OK, TAVRUN_ZIP_E_PASSWORD}));
    EXPECT_FALSE(host.cancel.load());
    EXPECT_EQ(answers.seen().size(), 3u);
    EXPECT_TRUE(Files(work_ / "esc0").empty());
    ExpectAllExtracted(work_ / "esc1", "the archive after a skipped one");
  }
  ASSERT_TRUE(tavrun::test::SetHostOf("libunzip32.so", nullptr));
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
