// tavrun-cli: the window's batch from a terminal or a script, on several cores.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/batch_run.h"
#include "cli/messages.h"
#include "cli/options.h"

namespace {

int Dispatch(const tavrun::cli::Options& options) {
  using namespace tavrun::cli;
  if (options.help) {
    std::fputs(Text(Msg::Usage).c_str(), stdout);
    return ExitDone;
  }
  if (options.version) {
    std::fputs("tavrun-cli " TAVRUN_VERSION "\n", stdout);
    return ExitDone;
  }
  return RunBatchCommand(options);
}

// A full disk or a closed pipe behind standard output must not pass for success: a script
// would take a listing or a JSON report cut short for the whole of it.
int CheckedOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  const int error = errno;
  std::fprintf(stderr, "tavrun-cli: %s\n",
               tavrun::cli::Text(tavrun::cli::Msg::OutputFailed,
                                 {error != 0 ? std::strerror(error) : "I/O error"})
                   .c_str());
  return status == tavrun::cli::ExitDone ? tavrun::cli::ExitFailed : status;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace tavrun::cli;
  InstallStopHandlers();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  Options options;
  std::string errorText;
  if (!ParseOptions(arguments, options, errorText)) {
    std::fprintf(stderr, "tavrun-cli: %s\n%s\n", errorText.c_str(), Text(Msg::UsageHint).c_str());
    return ExitUsage;
  }
  return CheckedOutput(Dispatch(options));
}
