// What an extractor does when it is about to put a member at a path below its destination:
// one decision for every format, so the same situation always gets the same kind (and so the
// same code within a library). Each library words the reasons and asks its own question.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialogs.h"
#include "outcome.h"

namespace tavrun::arc {

// What stands at a member's path now.
enum class TargetState {
  Nothing,     // nothing there (missing directories on the way are created)
  Regular,     // a regular file the owner may write
  ReadOnly,    // a regular file the owner may not write
  NotRegular,  // a directory, FIFO, socket or device at the path itself
  Link,        // a symbolic link at the path itself
  Obstructed,  // a symbolic link or something that is not a directory on the way
};

struct Target {
  TargetState state = TargetState::Nothing;
  int64_t mtime = 0;  // of an existing regular file
};

// Looks at paths below a destination without following any symbolic link.
class TargetInspector {
 public:
  TargetInspector() = default;
  TargetInspector(const TargetInspector&) = delete;
  TargetInspector& operator=(const TargetInspector&) = delete;
  ~TargetInspector();
  // False when the destination cannot be opened as a directory.
  bool Open(const std::string& destination);
  // A path that cannot be looked at (no search permission on the way) counts as Nothing:
  // writing it then fails and says why.
  Target Inspect(const std::vector<std::string>& components) const;

 private:
  int rootFd_ = -1;
};

struct OverwriteOptions {
  enum class Replace { Ask, Always, Never };
  Replace replace = Replace::Ask;
  bool keepReadOnly = false;  // never replace a read-only file
  bool compareDates = false;  // replace only a file older than the member
  bool hasWindow = false;     // someone can be asked
};

// What happens to one member.
enum class Action { Write, Replace, Keep, Ask };

// Why a member is kept, for the library's own wording.
enum class KeepReason {
  None,
  Obstructed,  // a symbolic link or a file on the way
  Link,        // a symbolic link at the path
  NotRegular,  // something that is not a regular file at the path
  ReadOnly,    // a read-only file and the option to keep those
  NotOlder,    // the existing file is not older than the member
  Never,       // the options say never replace
  NoToAll,     // answered "no to all" earlier in the call
  NoWindow,    // only a question could have allowed it and nobody can be asked
  AnsweredNo,  // the user said no
};

struct Verdict {
  Action action = Action::Write;
  Kind kind = Kind::None;  // Unsafe, Write or Kept when keeping is a failure; None otherwise
  KeepReason reason = KeepReason::None;
  bool operator==(const Verdict&) const = default;
};

// The decision for a member dated `memberMtime` at `target`. `tolerance` (seconds) is how much
// older the member may look and still count as not newer (coarse archive clocks); `toAll` is
// the call's "to all" answer, if one was given.
Verdict DecideOverwrite(const Target& target, int64_t memberMtime, int64_t tolerance,
                        const OverwriteOptions& options, std::optional<bool> toAll);

// The kind of a failure to create a directory or a file at a path in this state: whatever
// stands on the way or at the path as a link was planted there, anything else is a write
// failure.
Kind PlacementFailure(TargetState state);

// DecideOverwrite for one call, with the question asked through `ask` and its "to all" answer
// kept for the rest of the call. Never returns Action::Ask.
class OverwritePolicy {
 public:
  using Ask = std::function<OverwriteAnswer(const std::string& path)>;
  OverwritePolicy(const OverwriteOptions& options, Ask ask)
      : options_(options), ask_(std::move(ask)) {}
  Verdict Decide(const Target& target, int64_t memberMtime, int64_t tolerance,
                 const std::string& path);

 private:
  OverwriteOptions options_;
  Ask ask_;
  std::optional<bool> toAll_;
};

}  // namespace tavrun::arc
