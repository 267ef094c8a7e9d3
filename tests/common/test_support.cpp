#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tavrun::testing {
namespace fs = std::filesystem;

namespace {

// Gives every directory below `root` its permissions back so it can be removed.
void MakeRemovable(const fs::path& root) {
  std::error_code ec;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
  if (!fs::is_directory(fs::symlink_status(root, ec))) return;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavrun-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  MakeRemovable(path_);
  fs::remove_all(path_, ec);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

int ModeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

int CountEntries(const std::string& directory) {
  int n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator(directory, ec); it != fs::directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    ++n;
  }
  return n;
}

std::string InChild(const std::function<std::string()>& body, bool unprivileged) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string result;
    if (unprivileged && ::geteuid() == 0) {
      const gid_t nogroup = 65534;
      const uid_t nobody = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0) {
        result = "cannot drop privileges";
      }
    }
    if (result.empty()) {
      try {
        result = body();
      } catch (const std::exception& e) {
        result = std::string("exception: ") + e.what();
      }
    }
    if (!result.empty()) {
      ssize_t ignored = ::write(pipeFds[1], result.data(), result.size());
      (void)ignored;
    }
    ::close(pipeFds[1]);
    ::_exit(result.empty() ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string message;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) message.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "child ended by signal " + std::to_string(WTERMSIG(status));
  if (WEXITSTATUS(status) != 0 && message.empty()) return "child failed";
  return message;
}

std::string MakeSharedDir(const TempDir& base, const std::string& name) {
  ::chmod(base.path().c_str(), 0777);
  return base / name;
}

}  // namespace tavrun::testing
