// tavrun-cli end to end: the executable of this build over the archiver libraries of this
// build, checked by reading the archives back, with independent readers where one exists.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archivers/lzh/include/unlha32.h"
#include "archivers/zip/include/tavrun_zip_codes.h"
#include "engine/plan.h"
#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

void ExpectReadableByIndependentTool(const std::string& format, const std::string& dir) {
  const std::string tool = format == "lzh" ? "lhasa" : "python3";
  ASSERT_EQ(std::system(("command -v " + tool + " >/dev/null").c_str()), 0)
      << tool << " is needed to check the archives (scripts/install-deps.sh installs it)";
  if (format == "zip") {
    // One interpreter for the whole directory: starting one per archive is slow.
    const std::string command =
        "python3 -c 'import sys, os, zipfile\n"
        "d = sys.argv[1]\n"
        "bad = [n for n in os.listdir(d) if zipfile.ZipFile(os.path.join(d, n)).testzip()]\n"
        "sys.exit(1 if bad else 0)' '" +
        dir + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return;
  }
  for (const auto& item : fs::directory_iterator(dir)) {
    const std::string command = "lhasa t '" + item.path().string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
}

TEST_F(CliTest, CompressThenExtractGivesTheFilesBack) {
  struct Case {
    const char* format;
    std::vector<std::string> options;
  };
  const Case cases[] = {{"lzh", {}},
                        {"lzh", {"--method=lh7", "--archive-time"}},
                        {"zip", {}},
                        {"zip", {"--level", "0"}},
                        {"zip", {"--level=9", "--archive-time"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + (c.options.empty() ? "" : c.options[0]));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const Tree source = MakeSource(Dir("src"));
    std::vector<std::string> args = {"compress",      "--format", c.format, root_ + "/src",
                                     Dir("archives"), "--jobs",   "3"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome compress = Run(args);
    ASSERT_EQ(compress.status, 0) << compress.out << compress.err;
    // One archive per base name: data.txt and data.csv went into one.
    EXPECT_EQ(ReadTree(root_ + "/archives").size(), source.size() - 1);
    ExpectReadableByIndependentTool(c.format, root_ + "/archives");

    const Outcome extract =
        Run({"extract", "--format", c.format, root_ + "/archives", Dir("flat"), "-q"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.out, "");
    EXPECT_EQ(ReadTree(root_ + "/flat"), source);
  }
}

TEST_F(CliTest, ManyJobsGiveTheSameBytesAndLogAsOne) {
  const std::string src = Dir("src");
  // Several files per archive name, in an order the directory listing mixes up.
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i % 13) + "." + std::to_string(i);
    WriteFile(src + "/" + name, std::string(200 + i * 37, char('a' + i % 26)) + Noise(i * 500, i),
              1700000000 + i * 10);
  }
  for (const char* format : {"lzh", "zip"}) {
    SCOPED_TRACE(format);
    std::map<std::string, Tree> results;
    std::map<std::string, std::vector<std::string>> logs;
    for (const char* jobs : {"1", "4"}) {
      // The same paths for both runs, so the logs can be compared line for line.
      for (const char* part : {"a", "n", "f"}) fs::remove_all(root_ + "/" + part);
      const std::string log = root_ + "/" + format + jobs + ".log";
      const std::string archives = Dir("a");
      const Outcome compress =
          Run({"compress", "--format", format, src, archives, "--jobs", jobs, "--log", log});
      ASSERT_EQ(compress.status, 0) << compress.err;
      const Outcome nested = Run({"extract", "--format", format, archives, Dir("n"),
                                  "--dir-per-archive", "--jobs", jobs, "--log", log});
      ASSERT_EQ(nested.status, 0) << nested.err;
      const Outcome flat =
          Run({"extract", "--format", format, archives, Dir("f"), "--jobs", jobs, "--log", log});
      ASSERT_EQ(flat.status, 0) << flat.err;
      for (const char* part : {"a", "n", "f"}) {
        results[part + std::string(jobs)] = ReadTree(root_ + "/" + part);
      }
      logs[jobs] = LogBodies(log);
      EXPECT_EQ(results[std::string("f") + jobs], ReadTree(src));
    }
    EXPECT_EQ(results["a1"].size(), 13u);
    EXPECT_EQ(results["a1"], results["a4"]);
    EXPECT_EQ(results["n1"], results["n4"]);
    EXPECT_EQ(results["f1"], results["f4"]);
    EXPECT_EQ(logs["1"], logs["4"]);
    EXPECT_EQ(logs["1"].size(), 40u + 13u + 13u);
  }
}

TEST_F(CliTest, ExistingFilesAreKeptUnlessAnOptionSaysToOverwrite) {
  struct Case {
    const char* name;
    const char* format;
    bool compress;
    std::vector<std::string> options;
    int keptCode;  // 0: kept by the rule the option chose, no failure code
    bool replaced;
  };
  // Whatever keeps the file, nothing written is never "done".
  const Case cases[] = {
      {"lzh member, nobody asked", "lzh", true, {}, UNLHA_ERROR_KEPT, false},
      {"lzh member, --overwrite", "lzh", true, {"--overwrite"}, 0, true},
      {"lzh file, nobody asked", "lzh", false, {}, UNLHA_ERROR_KEPT, false},
      {"lzh file, --overwrite", "lzh", false, {"--overwrite"}, 0, true},
      {"zip file, nobody asked", "zip", false, {}, TAVRUN_ZIP_E_KEPT_EXISTING, false},
      {"zip file, --keep-existing", "zip", false, {"--keep-existing"}, 0, false},
      {"zip file, --overwrite", "zip", false, {"--overwrite"}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    const std::string src = Dir("src"), archives = Dir("archives"), out = Dir("out");
    WriteFile(src + "/a.txt", "old content", 1700000000);
    ASSERT_EQ(Run({"compress", "--format", c.format, src, archives}).status, 0);
    std::string watched;
    if (c.compress) {
      // The file is newer than its member, so the update wants to replace it.
      WriteFile(src + "/a.txt", "new content", 1700001000);
      watched = archives + "/a." + c.format;
    } else {
      // The file on disk is older than the member, so extraction wants to replace it.
      watched = out + "/a.txt";
      WriteFile(watched, "local edit", 1600000000);
    }
    const std::string before = ReadFile(watched);
    std::vector<std::string> args = {c.compress ? "compress" : "extract", "--format", c.format,
                                     c.compress ? src : archives, c.compress ? archives : out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome second = Run(args);
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(ReadFile(watched) != before, c.replaced);
    const bool listedAsKept = second.out.find("Kept") != std::string::npos;
    EXPECT_EQ(listedAsKept, !c.replaced) << second.out;
    EXPECT_EQ(second.out.find(": 1 done,") != std::string::npos, c.replaced) << second.out;
    if (c.keptCode != 0) {
      EXPECT_NE(second.out.find("(" + std::to_string(c.keptCode) + ")"), std::string::npos)
          << second.out;
    }
  }
}

TEST_F(CliTest, FailuresExitOneAndNameTheLibrarysReason) {
  const std::string src = Dir("src"), archives = Dir("archives"), out = Dir("out");
  for (const char* name : {"good.txt", "damaged.txt", "blocked.txt"}) {
    WriteFile(src + "/" + name, std::string(20000, 'x') + name);
  }
  ASSERT_EQ(Run({"compress", "--format", "lzh", src, archives}).status, 0);
  WriteFile(archives + "/readme.txt", "plain text, no archive");
  std::string damaged = ReadFile(archives + "/damaged.lzh");
  damaged[damaged.size() - 20] ^= 0x55;  // inside the compressed data
  WriteFile(archives + "/damaged.lzh", damaged);
  WriteFile(out + "/blocked", "a plain file where the directory should go");

  const std::string log = root_ + "/run.log";
  const Outcome run = Run({"extract", "--format", "lzh", archives, out, "--dir-per-archive",
                           "--log", log, "--log-level", "2"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(ReadFile(out + "/good/good.txt"), std::string(20000, 'x') + "good.txt");
  EXPECT_FALSE(fs::exists(out + "/damaged/damaged.txt"));
  // Failures go to standard error, the rest of the summary to standard output.
  const size_t failed = run.err.find("Failed:");
  ASSERT_NE(failed, std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("Failed:"), std::string::npos) << run.out;
  // The reason is the library's text (which may take several lines), followed by its code.
  const std::string damagedPath = archives + "/damaged.lzh: ";
  const size_t reason = run.err.find(damagedPath, failed);
  const size_t code = run.err.find("(" + std::to_string(UNLHA_ERROR_DATA) + ")\n", reason);
  ASSERT_NE(reason, std::string::npos) << run.err;
  ASSERT_NE(code, std::string::npos) << run.err;
  EXPECT_GT(code, reason + damagedPath.size() + 8) << run.err;
  EXPECT_NE(run.err.find(archives + "/blocked.lzh", failed), std::string::npos);
  EXPECT_NE(run.out.find("Skipped"), std::string::npos) << run.out;
  // The window's texts at level 2: no success line, the rest in list order of the run.
  const auto lines = LogBodies(log);
  EXPECT_EQ(lines.size(), 3u);
  const std::string damagedLine = "[ERR] " + tavrun::FailureLogText(tavrun::Operation::ExtractLzh,
                                                                    "4", archives + "/damaged.lzh");
  EXPECT_NE(std::find(lines.begin(), lines.end(), damagedLine), lines.end());
}

// What a user deletes sources after must be true: an archive cut short is a failure (exit 1,
// also with -q), an older file kept by its newer member is kept, not done, and an archive from
// an earlier run in the same folder is never added to itself.
TEST_F(CliTest, ResultsAreHonest) {
  const std::string src = Dir("src"), archives = Dir("archives"), out = Dir("out");
  WriteFile(src + "/data.txt", Noise(40000, 3), 1700000000);
  for (const char* format : {"lzh", "zip"}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(Run({"compress", "--format", format, src, archives}).status, 0);
    const std::string whole = ReadFile(archives + "/data." + format);
    const std::string cut = Dir(std::string("cut-") + format);
    WriteFile(cut + "/data." + format, whole.substr(0, whole.size() / 2));
    WriteFile(cut + "/notes.txt", "not an archive");
    const Outcome loud = Run({"extract", "--format", format, cut, out});
    EXPECT_EQ(loud.status, 1) << loud.out << loud.err;
    EXPECT_NE(loud.err.find("damaged or truncated"), std::string::npos) << loud.err;
    EXPECT_NE(loud.out.find("1 skipped, 1 failed"), std::string::npos) << loud.out;
    const Outcome quiet = Run({"extract", "-q", "--format", format, cut, out});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_NE(quiet.err.find("data." + std::string(format)), std::string::npos) << quiet.err;

    // The same file again, older than its member: nothing is written.
    const Outcome again = Run({"compress", "--format", format, src, archives});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("0 done, 1 kept"), std::string::npos) << again.out;
    EXPECT_EQ(ReadFile(archives + "/data." + format), whole);
  }
  // Target = source: the archives of the first run are listed, and none goes into itself.
  const std::string same = Dir("same");
  WriteFile(same + "/a.txt", "text", 1700000000);
  ASSERT_EQ(Run({"compress", "--format", "zip", same, same}).status, 0);
  const std::string first = ReadFile(same + "/a.zip");
  const Outcome second = Run({"compress", "--format", "zip", same, same});
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_NE(second.out.find("the archive itself is not added to itself"), std::string::npos)
      << second.out;
  EXPECT_EQ(ReadFile(same + "/a.zip"), first);
}

TEST_F(CliTest, BadUsageAndUnreadableDirectoriesExitTwo) {
  const std::string src = Dir("src"), out = Dir("out");
  WriteFile(src + "/a.txt", "a");
  WriteFile(root_ + "/file", "not a directory");
  struct Case {
    std::vector<std::string> args;
    Env env;
    int status;
    bool japanese;
  };
  const Case cases[] = {
      {{}, {}, 2, false},
      {{"compress", src, out}, {}, 2, false},  // no format
      {{"pack", "--format", "lzh", src, out}, {}, 2, false},
      {{"compress", "--format", "rar", src, out}, {}, 2, false},
      {{"compress", "--format", "lzh", src}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "extra"}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--jobs", "x"}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--level", "10"}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--method", "lh1"}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--bogus"}, {}, 2, false},
      {{"extract", "--format", "zip", src, out, "--overwrite", "--keep-existing"}, {}, 2, false},
      {{"compress", "--format", "lzh", root_ + "/missing", out}, {}, 2, false},
      {{"compress", "--format", "lzh", src, root_ + "/file"}, {}, 2, false},
      {{"compress", "--format", "lzh", root_ + "/file", out}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--settings", root_ + "/none.ini"}, {}, 2, false},
      {{"compress", "--format", "lzh", src, out, "--log", root_ + "/missing/run.log"},
       {},
       2,
       false},
      {{"compress", "--format", "lzh", root_ + "/missing", out},
       {{"LANG", "ja_JP.UTF-8"}},
       2,
       true},
      {{"compress", "--format", "lzh", root_ + "/missing", out},
       {{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", "C.UTF-8"}},
       2,
       false},
      {{"compress", "--format", "lzh", root_ + "/missing", out},
       {{"LANG", "C"}, {"LC_MESSAGES", "ja_JP.UTF-8"}},
       2,
       true},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += arg + " ";
    SCOPED_TRACE(shown);
    const Outcome run = Run(c.args, c.env);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find("tavrun-cli: "), std::string::npos) << run.err;
    EXPECT_EQ(HasNonAscii(run.err), c.japanese) << run.err;
    EXPECT_TRUE(fs::is_empty(out));
  }
  const Outcome help = Run({"--help"}, {{"LANG", "ja_JP.UTF-8"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--dir-per-archive"), std::string::npos);
  EXPECT_TRUE(HasNonAscii(help.out));
}

TEST_F(CliTest, SettingsFileIsReadAndRepairedAndOptionsOverrideIt) {
  const std::string src = Dir("src");
  WriteFile(src + "/a.txt", std::string(30000, 'z'));
  const std::string ini = root_ + "/my settings.ini";
  auto method = [&](const std::vector<std::string>& extra) {
    const std::string out = Dir("out");
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> args = {"compress", "--format", "lzh", src, out, "--settings", ini};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(args).status, 0);
    return ReadFile(out + "/a.lzh").substr(2, 5);  // a level-2 header's method id
  };
  WriteFile(ini, "[LZH]\r\nCompressRate=0\r\n[COMMON]\r\nMakeDirectory=1\r\n");
  EXPECT_EQ(method({}), "-lh0-");
  EXPECT_EQ(method({"--method", "lh7"}), "-lh7-");
  WriteFile(ini, "[LZH]\nCompressRate=7\n");  // out of range: the window's default
  EXPECT_EQ(method({}), "-lh5-");
  WriteFile(ini, "[LZH]\nCompressRate=3\n");
  EXPECT_EQ(method({}), "-lh6-");
}

TEST_F(CliTest, CtrlCCancelsTheRunningCallAndLeavesNothingHalfWritten) {
  const std::string src = Dir("src"), out = Dir("out"), log = root_ + "/run.log";
  const int files = 12;
  for (int i = 0; i < files; ++i) WriteFile(src + "/f" + std::to_string(i), Noise(3 << 20, i));
  const Outcome run = Run({"compress", "--format", "lzh", src, out, "--jobs", "1", "--log", log},
                          {}, [&](pid_t pid) {
                            // As soon as the first archive is being written.
                            while (fs::is_empty(out)) usleep(1000);
                            kill(pid, SIGINT);
                          });
  EXPECT_EQ(run.status, 130) << run.out << run.err;
  EXPECT_NE(run.err.find("Interrupted"), std::string::npos) << run.err;
  const Tree archives = ReadTree(out);
  EXPECT_LT(archives.size(), size_t(files));
  // Only whole archives: every entry is an archive a reader accepts, with one log line each.
  for (const auto& [name, content] : archives) {
    EXPECT_EQ(fs::path(name).extension(), ".lzh") << name;
  }
  ExpectReadableByIndependentTool("lzh", out);
  // One success line per archive; the call the signal cancelled (if one ran) fails with the
  // cancel code and leaves no archive.
  size_t successes = 0, cancelled = 0;
  for (const std::string& body : LogBodies(log)) {
    if (body.find("LZH圧縮しました") != std::string::npos) {
      ++successes;
    } else if (body.rfind("[ERR] 7 [UNLHA32:", 0) == 0) {
      ++cancelled;
    } else {
      ADD_FAILURE() << body;
    }
  }
  EXPECT_EQ(successes, archives.size());
  EXPECT_LE(cancelled, 1u);
}

TEST_F(CliTest, ProgressLineOnlyOnATerminal) {
  const std::string src = Dir("src");
  for (int i = 0; i < 5; ++i) WriteFile(src + "/f" + std::to_string(i), "data");
  // Through a pipe: no line redrawn in place.
  const Outcome piped = Run({"compress", "--format", "zip", src, Dir("piped")});
  EXPECT_EQ(piped.err.find('\r'), std::string::npos);
  EXPECT_NE(piped.out.find("5 files"), std::string::npos);

  int master = -1;
  const std::string target = Dir("tty");
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) ExecCli({"compress", "--format", "zip", src, target}, {});
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, size_t(n));
  close(master);
  EXPECT_EQ(ExitStatus(pid), 0);
  EXPECT_NE(screen.find("\r0 / 5 files"), std::string::npos) << screen;
  EXPECT_NE(screen.find("5 files: 5 done"), std::string::npos) << screen;
}

// Two runs at once putting d1/data.txt and d2/data.csv into one target, where both go into one
// archive "data": each run waits for the other's archive and adds to it, so both files come
// back every time.
TEST_F(CliTest, TwoRunsIntoOneArchiveKeepBothFiles) {
  WriteFile(Dir("d1") + "/data.txt", "text from d1");
  WriteFile(Dir("d2") + "/data.csv", Noise(200000, 3));
  for (const char* format : {"lzh", "zip"}) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(std::string(format) + " round " + std::to_string(round));
      fs::remove_all(root_ + "/target");
      fs::remove_all(root_ + "/out");
      const std::string target = Dir("target");
      pid_t runs[2];
      for (int k = 0; k < 2; ++k) {
        runs[k] = fork();
        ASSERT_GE(runs[k], 0);
        if (runs[k] == 0) {
          if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
          ExecCli({"compress", "--format", format, root_ + (k == 0 ? "/d1" : "/d2"), target}, {});
        }
      }
      for (pid_t run : runs) EXPECT_EQ(ExitStatus(run), 0);
      const Outcome extract = Run({"extract", "--format", format, target, Dir("out"), "-q"});
      ASSERT_EQ(extract.status, 0) << extract.err;
      Tree expected = ReadTree(root_ + "/d1");
      expected.merge(ReadTree(root_ + "/d2"));
      EXPECT_EQ(ReadTree(root_ + "/out"), expected);
    }
  }
}

}  // namespace
