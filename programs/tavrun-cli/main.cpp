// tavrun-cli: the window's batch from a terminal or a script, on several cores.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch_run.h"
#include "cli/messages.h"
#include "cli/options.h"

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
  if (options.help) {
    std::fputs(Text(Msg::Usage).c_str(), stdout);
    return ExitDone;
  }
  return RunBatchCommand(options);
}
