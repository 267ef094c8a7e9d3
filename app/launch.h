// What the command line asks of the window at start-up: a source directory for the first box
// and, from the file managers' actions, the operation to preselect.
#pragma once

#include <string>
#include <vector>

namespace tavrun {

enum class LaunchOperation { Stored, Compress, Extract };

struct LaunchRequest {
  std::string sourceDirectory;  // absolute; empty: the box keeps the stored directory
  LaunchOperation operation = LaunchOperation::Stored;
  bool operator==(const LaunchRequest&) const = default;
};

// `tavrun [--compress | --extract] [PATH...]`, the arguments after the program's name.
// The first path counts: a relative one is made absolute against `workingDirectory`, a file
// stands for its folder, and a path that does not exist is kept as given, so the box shows it
// and a run reports it instead of working on the stored directory. Further paths and unknown
// options are ignored; "--" ends the options.
LaunchRequest ParseLaunchArguments(const std::vector<std::string>& arguments,
                                   const std::string& workingDirectory);

// The same from main's arguments (once the toolkit has taken its own) and the process's
// working directory.
LaunchRequest LaunchRequestFrom(int argc, char** argv);

}  // namespace tavrun
