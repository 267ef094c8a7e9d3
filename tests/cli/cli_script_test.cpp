// tavrun-cli as scripts and backup jobs use it: list and test, passwords both ways, JSON lines,
// and the usual command-line conventions. Each case runs the executable as a process.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>

#include <chrono>

#include "archivers/zip/include/tavrun_zip_codes.h"
#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A shell command's exit status and standard output; stdin is empty.
struct Shell {
  int status;
  std::string out;
};
Shell RunShell(const std::string& command) {
  Shell shell{-1, ""};
  FILE* pipe = popen((command + " </dev/null 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return shell;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    shell.out.append(buffer, got);
  const int status = pclose(pipe);
  shell.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return shell;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// Each line parsed by Python's JSON reader and printed back as "file|archive|status|code|reason"
// (file and archive as their base names), so the test sees what a script would see.
std::vector<std::string> ParsedJson(const std::string& root, const std::string& text) {
  WriteFile(root + "/.json", text);
  const Shell shell = RunShell(
      "python3 -c 'import sys, json, os\n"
      "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
      "    o = json.loads(line)\n"
      "    print(\"|\".join([os.path.basename(o[\"file\"]), os.path.basename(o[\"archive\"]),\n"
      "                    o[\"status\"], str(o[\"code\"]), o[\"reason\"],\n"
      "                    \",\".join(m[\"name\"] for m in o.get(\"members\", []))]))' " +
      Quoted(root + "/.json"));
  EXPECT_EQ(shell.status, 0) << "not one JSON object per line:\n" << text;
  return Lines(shell.out);
}

class CliScriptTest : public CliTest {
 protected:
  // Runs the tool with standard output going to `stdoutPath`.
  int RunWithStdout(const std::vector<std::string>& args, const std::string& stdoutPath) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int fd = open(stdoutPath.c_str(), O_WRONLY);
      const int null = open("/dev/null", O_RDWR);
      if (fd < 0 || null < 0 || dup2(fd, 1) < 0 || dup2(null, 2) < 0 || dup2(null, 0) < 0) {
        _exit(126);
      }
      ExecCli(args, {});
      _exit(127);
    }
    return ExitStatus(pid);
  }

  // Three files whose members can be damaged by one byte without breaking the structure:
  // stored members (lh0, ZIP level 0), so only the CRC can tell.
  std::string MakeArchives(const std::string& format) {
    const std::string src = Dir("src-" + format), archives = Dir("archives-" + format);
    WriteFile(src + "/good.txt", std::string(3000, 'g'), 1700000000);
    WriteFile(src + "/crc.txt", std::string(3000, 'c'), 1700000000);
    WriteFile(src + "/other.txt", "other", 1700000000);
    std::vector<std::string> args = {"compress", "--format", format, src, archives, "-q"};
    if (format == "lzh") args.insert(args.end(), {"--method", "lh0"});
    if (format == "zip") args.insert(args.end(), {"--level", "0"});
    const Outcome made = Run(args);
    EXPECT_EQ(made.status, 0) << made.err;
    std::string damaged = ReadFile(archives + "/crc." + format);
    const size_t at = damaged.find(std::string(100, 'c'));
    EXPECT_NE(at, std::string::npos);
    damaged[at + 1500] = 'X';  // the member's data, not a header
    WriteFile(archives + "/crc." + format, damaged);
    WriteFile(archives + "/fake." + format, "named like an archive, but it is not one");
    WriteFile(archives + "/notes.txt", "a plain file: not for list or test");
    return archives;
  }
};

TEST_F(CliScriptTest, TestFindsDamagedArchivesAndWritesNothing) {
  for (const std::string format : {"lzh", "zip"}) {
    SCOPED_TRACE(format);
    const std::string archives = MakeArchives(format);
    const Tree before = ReadTree(archives);
    const std::string tmp = Dir("tmp-" + format);
    const Outcome test = Run({"test", "--format", format, archives}, {{"TMPDIR", tmp}});
    EXPECT_EQ(test.status, 1) << test.out << test.err;
    // Each damaged archive named on standard error, the sound ones nowhere there.
    EXPECT_NE(test.err.find(archives + "/crc." + format), std::string::npos) << test.err;
    EXPECT_NE(test.err.find(archives + "/fake." + format), std::string::npos) << test.err;
    EXPECT_EQ(test.err.find("good." + format), std::string::npos) << test.err;
    EXPECT_NE(test.out.find("5 files: 2 done, 0 kept, 1 skipped, 2 failed"), std::string::npos)
        << test.out;
    EXPECT_EQ(ReadTree(archives), before);
    EXPECT_TRUE(fs::is_empty(tmp)) << "test left its extraction behind";

    // One archive as the source: sound, then damaged.
    EXPECT_EQ(Run({"test", "--format", format, archives + "/good." + format}).status, 0);
    EXPECT_EQ(Run({"test", "-q", "--format", format, archives + "/crc." + format}).status, 1);

    const Outcome list = Run({"list", "--format", format, archives + "/good." + format});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("3000"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("good.txt"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(format == "lzh" ? "lh0" : "store"), std::string::npos) << list.out;
    const Outcome listAll = Run({"list", "--format", format, archives});
    EXPECT_EQ(listAll.status, 1) << "the fake archive is a failure, as for extraction";
    EXPECT_NE(listAll.out.find("other.txt"), std::string::npos) << listAll.out;
  }
}

TEST_F(CliScriptTest, JsonGivesOneParsableLinePerFileAndNothingElse) {
  const std::string src = Dir("src"), archives = root_ + "/archives";
  WriteFile(src + "/plain.txt", "plain");
  WriteFile(src + "/say \"hi\" back\\slash.txt", "awkward name");
  WriteFile(src + std::string("/bad\xff\x01name.txt"), "not UTF-8: the ZIP library refuses it");
  const Outcome compress = Run({"compress", "--format", "zip", "--json", src, archives});
  EXPECT_EQ(compress.status, 1) << compress.err;
  const auto lines = ParsedJson(root_, compress.out);
  ASSERT_EQ(lines.size(), 3u) << compress.out;
  size_t done = 0, failed = 0;
  for (const std::string& line : lines) {
    done += line.find("|done|0||") != std::string::npos;
    failed += line.find("|failed|") != std::string::npos;
    if (line.find("|failed|") != std::string::npos) {
      EXPECT_NE(line.find("bad\xef\xbf\xbd"), std::string::npos) << line;  // U+FFFD
    }
  }
  EXPECT_EQ(done, 2u) << compress.out;
  EXPECT_EQ(failed, 1u) << compress.out;
  EXPECT_NE(compress.err.find("bad"), std::string::npos) << "failures still on stderr";

  WriteFile(archives + "/notes.txt", "skipped");
  const Outcome extract = Run({"extract", "--format", "zip", "--json", archives, Dir("out")});
  EXPECT_EQ(extract.status, 0) << extract.err;
  const auto extracted = ParsedJson(root_, extract.out);
  ASSERT_EQ(extracted.size(), 3u) << extract.out;
  EXPECT_EQ(std::count_if(extracted.begin(), extracted.end(),
                          [](const std::string& l) { return l.find("|skipped|") != l.npos; }),
            1);

  const Outcome list = Run({"list", "--format", "zip", "--json", archives + "/plain.zip"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(ParsedJson(root_, list.out),
            std::vector<std::string>{"plain.zip|plain.zip|done|0||plain.txt"});
}

// What a backup writes with a password opens in the independent tools with it, and in none
// without it; the password shows nowhere.
TEST_F(CliScriptTest, PasswordFileEncryptsForOtherToolsAndOpensArchives) {
  if (!HaveTool("7zz") || !HaveTool("bsdtar") || !HaveTool("unzip")) {
    GTEST_SKIP() << "7zz, bsdtar and unzip are needed (scripts/install-deps.sh installs them)";
  }
  const std::string passwordFile = root_ + "/pass", src = Dir("src");
  const std::string content = Noise(70000, 5) + std::string(70000, 'z');
  WriteFile(src + "/data.bin", content);
  struct Case {
    const char* encryption;
    const char* method;
    // AES hashes the password's UTF-8; for ZipCrypto each tool hashes bytes of its own
    // choosing, so the independent tools get an ASCII one.
    std::string password;
  };
  for (const Case& c :
       {Case{"aes256", "+aes256", "S3cret パス"}, Case{"zipcrypto", "+zipcrypto", "S3cret-zc"}}) {
    SCOPED_TRACE(c.encryption);
    const std::string& password = c.password;
    WriteFile(passwordFile, password + "\r\nsecond line is not part of it\n");
    const std::string archives = root_ + "/" + c.encryption, log = root_ + "/run.log";
    const Outcome made = Run({"compress", "--format", "zip", "--password-file", passwordFile,
                              "--encryption", c.encryption, "--log", log, src, archives});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    const std::string zip = Quoted(archives + "/data.zip");
    const std::string p = Quoted(password);
    EXPECT_EQ(RunShell("7zz x -so -p" + p + " " + zip).out, content);
    EXPECT_NE(RunShell("7zz x -so -pwrong " + zip).status, 0);
    EXPECT_EQ(RunShell("bsdtar -xOf " + zip + " --passphrase " + p).out, content);
    EXPECT_NE(RunShell("bsdtar -xOf " + zip + " --passphrase wrong").status, 0);
    if (std::string(c.encryption) == "zipcrypto") {
      EXPECT_EQ(RunShell("unzip -p -P " + p + " " + zip).out, content);
      EXPECT_NE(RunShell("unzip -p -P wrong " + zip).out, content);
    }

    const Outcome list = Run({"list", "--format", "zip", archives});
    EXPECT_NE(list.out.find(c.method), std::string::npos) << list.out;
    // Our own extraction and test: with the file; without it (nobody to ask) they fail.
    const Outcome opened = Run({"extract", "--format", "zip", "--password-file", passwordFile,
                                "--log", log, archives, Dir(std::string("out-") + c.encryption)});
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(ReadFile(root_ + "/out-" + c.encryption + "/data.bin"), content);
    EXPECT_EQ(Run({"test", "--format", "zip", "--password-file", passwordFile, archives}).status,
              0);
    EXPECT_EQ(Run({"test", "--format", "zip", archives}).status, 1);
    WriteFile(root_ + "/wrong", "not it\n");
    const Outcome wrong =
        Run({"test", "--format", "zip", "--password-file", root_ + "/wrong", "--json", archives});
    EXPECT_EQ(wrong.status, 1);
    for (const std::string& text : {made.out, made.err, opened.out, opened.err, wrong.out,
                                    wrong.err, list.out, ReadFile(log)}) {
      EXPECT_EQ(text.find("S3cret"), std::string::npos) << text;
    }
  }
}

// A Japanese ZipCrypto password is hashed as CP932, the bytes the extractor built into
// Japanese Windows hashes; Python's zipfile opens the archive with those bytes and not with
// UTF-8, and our own extraction opens it from the password as typed.
TEST_F(CliScriptTest, AJapaneseZipCryptoPasswordIsHashedAsWindowsHashesIt) {
  const std::string src = Dir("src"), archives = Dir("archives"), out = Dir("out");
  const std::string content = Noise(5000, 6) + std::string(5000, 'q');
  WriteFile(src + "/data.bin", content);
  const std::string password = "秘密〜パス";  // 〜 as Linux types it, U+301C
  WriteFile(root_ + "/pass", password + "\n");
  ASSERT_EQ(Run({"compress", "--format", "zip", "--password-file", root_ + "/pass", "--encryption",
                 "zipcrypto", src, archives})
                .status,
            0);
  const std::string python =
      "python3 -c 'import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "sys.stdout.buffer.write(z.read(\"data.bin\", pwd=sys.argv[2].encode(sys.argv[3])))' " +
      Quoted(archives + "/data.zip") + " ";
  // Windows types 〜 as U+FF5E, which CP932 codes 0x8160.
  EXPECT_EQ(RunShell(python + Quoted("秘密～パス") + " cp932").out, content);
  EXPECT_NE(RunShell(python + Quoted(password) + " utf-8").status, 0);
  ASSERT_EQ(
      Run({"extract", "--format", "zip", "--password-file", root_ + "/pass", archives, out}).status,
      0);
  EXPECT_EQ(ReadFile(out + "/data.bin"), content);
}

// Without a password file, a terminal is asked once, without echo, and only when an archive
// needs it.
TEST_F(CliScriptTest, TerminalIsAskedOnceWithoutEcho) {
  const std::string src = Dir("src"), archives = Dir("archives"), out = Dir("out");
  WriteFile(root_ + "/pass", "typed-secret\n");
  for (const char* name : {"a.txt", "b.txt"}) WriteFile(src + "/" + name, name);
  ASSERT_EQ(Run({"compress", "--format", "zip", "--password-file", root_ + "/pass", src, archives})
                .status,
            0);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) ExecCli({"extract", "--format", "zip", "-j", "1", archives, out}, {});
  std::string screen;
  char buffer[4096];
  bool answered = false;
  // The progress line keeps the terminal busy, so the limit is on the whole run: a hang fails
  // below instead of blocking.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 1000) < 0) break;
    if ((ready.revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, size_t(n));
    if (!answered && screen.find("Password") != std::string::npos) {
      answered = true;
      ASSERT_EQ(write(master, "typed-secret\n", 13), 13);
    }
  }
  close(master);
  kill(pid, SIGKILL);
  EXPECT_EQ(ExitStatus(pid), 0) << screen;
  EXPECT_TRUE(answered) << screen;
  EXPECT_EQ(screen.find("Password", screen.find("Password") + 1), std::string::npos)
      << "asked more than once: " << screen;
  EXPECT_EQ(screen.find("typed-secret"), std::string::npos) << "echoed: " << screen;
  EXPECT_EQ(ReadFile(out + "/b.txt"), "b.txt");
}

TEST_F(CliScriptTest, UsualConventions) {
  const Outcome version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tavrun-cli ", 0), 0u) << version.out;

  // Relative paths with "..", a target made with its parents, bundled short options.
  const std::string src = Dir("work/src");
  WriteFile(src + "/a.txt", "a");
  WriteFile(src + "/b.txt", "b");
  for (const char* format : {"lzh", "zip"}) {
    SCOPED_TRACE(format);
    const std::string target = std::string("../made/") + format + "/deep";
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir((root_ + "/work/src").c_str()) != 0) _exit(126);
      if (!freopen("/dev/null", "w", stdout)) _exit(126);
      ExecCli({"compress", "-qj2", "--format", format, "../src", target}, {});
    }
    EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_EQ(ReadTree(root_ + "/work/made/" + format + "/deep").size(), 2u);
  }
  // A source starting with "-", after "--".
  const std::string dashed = Dir("-dashed");
  WriteFile(dashed + "/c.txt", "c");
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(root_.c_str()) != 0 || !freopen("/dev/null", "w", stdout)) _exit(126);
    ExecCli({"compress", "--format", "zip", "-j", "0", "--", "-dashed", "-out"}, {});
  }
  EXPECT_EQ(ExitStatus(pid), 0);
  EXPECT_TRUE(fs::exists(root_ + "/-out/c.zip"));

  // An option that does not apply: exit 2 with one line naming it, before anything is made.
  const std::vector<std::vector<std::string>> misplaced = {
      {"compress", "--format", "lzh", "--level", "9", src, root_ + "/x"},
      {"compress", "--format", "zip", "--method", "lh7", src, root_ + "/x"},
      {"compress", "--format", "zip", "--encryption", "aes256", src, root_ + "/x"},
      {"extract", "--format", "lzh", "--password-file", "p", src, root_ + "/x"},
      {"list", "--format", "zip", "--overwrite", src},
      {"test", "--format", "lzh", "--dir-per-archive", src},
  };
  for (const auto& args : misplaced) {
    SCOPED_TRACE(args[3]);
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("tavrun-cli: " + args[3] + " ", 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 2u) << "one line of reason, one of help: " << run.err;
    EXPECT_FALSE(fs::exists(root_ + "/x"));
  }
  EXPECT_EQ(Run({"-x", "list", "--format", "zip", src}).status, 2);

  // A write error on standard output is a failure.
  ASSERT_TRUE(fs::exists("/dev/full"));
  EXPECT_EQ(RunWithStdout({"--version"}, "/dev/full"), 1);
  EXPECT_EQ(RunWithStdout({"list", "--format", "zip", root_ + "/-out"}, "/dev/full"), 1);
  EXPECT_EQ(RunWithStdout({"list", "--format", "zip", root_ + "/-out"}, "/dev/null"), 0);
}

}  // namespace
