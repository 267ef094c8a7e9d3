// The fixture of the tavrun-cli tests: the executable of this build run as a process, with
// its output in files, over the archiver libraries of this build.
#pragma once

#include <gtest/gtest.h>
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

namespace cli_test {

namespace fs = std::filesystem;
// Relative path -> size and hash of the content: a failure message stays readable.
using Tree = std::map<std::string, std::string>;
using Env = std::map<std::string, std::string>;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline void WriteFile(const std::string& path, const std::string& content, time_t mtime = 0) {
  std::ofstream(path, std::ios::binary) << content;
  if (mtime != 0) {
    const utimbuf times{mtime, mtime};
    utime(path.c_str(), &times);
  }
}

inline std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

inline Tree ReadTree(const std::string& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    const std::string content = ReadFile(item.path());
    tree[fs::relative(item.path(), root).string()] =
        std::to_string(content.size()) + ":" + std::to_string(std::hash<std::string>()(content));
  }
  return tree;
}

// Log lines without their time stamps.
inline std::vector<std::string> LogBodies(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream log(ReadFile(path));
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.substr(20));
  }
  return lines;
}

inline bool HasNonAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

// Pseudo-random bytes: incompressible, and the same for the same seed.
inline std::string Noise(size_t size, uint32_t seed) {
  std::string data(size, '\0');
  for (char& c : data) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return data;
}

inline void ApplyEnv(const Env& env) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
  setenv("LANG", "C", 1);
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
}

[[noreturn]] inline void ExecCli(const std::vector<std::string>& args, const Env& env) {
  ApplyEnv(env);
  std::vector<char*> argv{const_cast<char*>(TAVRUN_CLI)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(TAVRUN_CLI, argv.data());
  _exit(127);
}

inline int ExitStatus(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  // A death by signal is kept apart from an exit with 128 + signal, which the tool chooses.
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"libunlha32.so", "libzip32j.so", "libzip32.so", "libunzip32.so"}) {
      const std::string path = std::string(TAVRUN_COMPONENT_DIR) + "/" + file;
      ASSERT_TRUE(fs::exists(path)) << "archiver library not built: " << path;
    }
    char pattern[] = "/tmp/tavrun-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Dir(const std::string& name) {
    fs::create_directories(root_ + "/" + name);
    return root_ + "/" + name;
  }

  // Runs the tool with its output in files; `whileRunning` gets the child's id.
  Outcome Run(const std::vector<std::string>& args, const Env& env = {},
              const std::function<void(pid_t)>& whileRunning = {}) {
    const std::string out = root_ + "/.stdout", err = root_ + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      // Nobody types: a run must never wait for a terminal the test happens to have.
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) ||
          !freopen("/dev/null", "r", stdin)) {
        _exit(126);
      }
      ExecCli(args, env);
    }
    if (whileRunning) whileRunning(pid);
    Outcome outcome;
    outcome.status = ExitStatus(pid);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
  }

  // Files with awkward names; data.* share one archive name.
  Tree MakeSource(const std::string& dir) {
    const std::map<std::string, std::string> files = {
        {"report.txt", "first line\nsecond line\n"},
        {"blob.bin", Noise(150000, 7)},
        {"empty.dat", ""},
        {"日本語のファイル名.txt", "中身も日本語です。\r\n"},
        {"with  blanks .txt", std::string(5000, 'b')},
        {"say \"hi\".txt", "quoted"},
        {"data.txt", "same base, text"},
        {"data.csv", "same,base\n"},
        {"noext", "no extension"},
    };
    for (const auto& [name, content] : files) WriteFile(dir + "/" + name, content, 1700000000);
    const Tree visible = ReadTree(dir);
    WriteFile(dir + "/.hidden", "never listed");
    return visible;
  }

  std::string root_;
};

}  // namespace cli_test
