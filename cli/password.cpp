#include "cli/password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "archivers/shared/include/tavrun_host.h"
#include "cli/messages.h"
#include "common/paths.h"
#include "engine/host.h"

namespace tavrun::cli {
namespace {

// Reads up to the first line end; the rest of the file is never read.
bool ReadFirstLine(int fd, std::string& line, std::string& errorText) {
  char c = 0;
  for (;;) {
    const ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      errorText = PlatformErrorText(errno);
      return false;
    }
    if (got == 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Echo off on the terminal of standard input for as long as it lives.
class NoEcho {
 public:
  NoEcho() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // TCSANOW: flushing would drop what was typed ahead and leave the read waiting.
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }

 private:
  termios saved_{};
  bool active_ = false;
};

bool AskOnTerminal(std::string& password) {
  // Echo goes off before the prompt shows, so nothing typed after it is ever echoed.
  NoEcho noEcho;
  std::fprintf(stderr, "\r\x1b[K%s", Text(Msg::PasswordPrompt).c_str());
  std::fflush(stderr);
  std::string ignored;
  return ReadFirstLine(STDIN_FILENO, password, ignored) && !password.empty();
}

}  // namespace

bool ReadPasswordFile(const std::string& file, std::string& password, std::string& errorText) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  const bool read = ReadFirstLine(fd, password, errorText);
  close(fd);
  if (read && password.empty()) errorText = Text(Msg::PasswordEmpty);
  return read && !password.empty();
}

RunPassword::RunPassword(std::string known, bool mayAsk)
    : password_(std::move(known)), mayAsk_(mayAsk) {}

RunPassword::~RunPassword() {
  WipeText(password_);
}

void RunPassword::Attach(RunSession& session, bool remember) {
  if (remember && !password_.empty()) session.RememberPassword(password_);
  session.SetPasswordSource(
      [this](const std::string&, bool, std::string& password) { return Answer(password); });
}

int32_t RunPassword::Answer(std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (password_.empty() && mayAsk_ && !asked_) {
    asked_ = true;
    if (!AskOnTerminal(password_)) WipeText(password_);
  }
  if (password_.empty()) return asked_ ? TAVRUN_PASSWORD_SKIP : TAVRUN_PASSWORD_NONE;
  password = password_;
  return TAVRUN_PASSWORD_GIVEN;
}

}  // namespace tavrun::cli
