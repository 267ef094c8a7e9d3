#include "test_support.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tavrun::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  path_ = std::string(base && *base ? base : "/tmp") + "/tavrun-test-XXXXXX";
  if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  // Tests leave read-only directories behind: give them back to the owner first.
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes)) {
    throw std::runtime_error("cannot write " + path);
  }
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

int ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

int CountEntries(const std::string& directory) {
  std::error_code ec;
  return static_cast<int>(std::distance(fs::directory_iterator(directory, ec), {}));
}

std::string InChild(const std::function<std::string()>& body, bool unprivileged) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    if (unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      result = "cannot drop privileges";
    } else {
      try {
        result = body();
      } catch (const std::exception& e) {
        result = std::string("exception: ") + e.what();
      }
    }
    if (::write(fds[1], result.data(), result.size()) < 0) result = "x";
    ::_exit(result.empty() ? 0 : 1);
  }
  ::close(fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "child ended by signal " + std::to_string(WTERMSIG(status));
  return WEXITSTATUS(status) != 0 && message.empty() ? "child failed" : message;
}

std::string MakeSharedDir(const TempDir& base, const std::string& name) {
  ::chmod(base.path().c_str(), 0777);
  return base / name;
}

}  // namespace tavrun::testing
