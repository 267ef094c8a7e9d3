#include "overwrite_policy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host.h"

namespace tavrun::arc {

TargetInspector::~TargetInspector() {
  if (rootFd_ >= 0) close(rootFd_);
}

bool TargetInspector::Open(const std::string& destination) {
  if (rootFd_ >= 0) close(rootFd_);
  rootFd_ = open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return rootFd_ >= 0;
}

Target TargetInspector::Inspect(const std::vector<std::string>& components) const {
  Target t;
  if (rootFd_ < 0 || components.empty()) return t;
  int dir = fcntl(rootFd_, F_DUPFD_CLOEXEC, 0);
  for (size_t i = 0; dir >= 0 && i < components.size(); ++i) {
    struct stat st {};
    if (fstatat(dir, components[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;
    const bool last = i + 1 == components.size();
    if (S_ISLNK(st.st_mode)) {
      t.state = last ? TargetState::Link : TargetState::Obstructed;
      break;
    }
    if (last) {
      if (!S_ISREG(st.st_mode)) {
        t.state = TargetState::NotRegular;
      } else {
        t.state = (st.st_mode & S_IWUSR) ? TargetState::Regular : TargetState::ReadOnly;
        t.mtime = static_cast<int64_t>(st.st_mtime);
      }
      break;
    }
    if (!S_ISDIR(st.st_mode)) {
      t.state = TargetState::Obstructed;
      break;
    }
    const int next =
        openat(dir, components[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(dir);
    dir = next;
  }
  if (dir >= 0) close(dir);
  return t;
}

Verdict DecideOverwrite(const Target& target, int64_t memberMtime, int64_t tolerance,
                        const OverwriteOptions& o, std::optional<bool> toAll) {
  using R = KeepReason;
  auto keep = [](R reason, Kind kind = Kind::None) { return Verdict{Action::Keep, kind, reason}; };
  switch (target.state) {
    case TargetState::Nothing: return Verdict{};
    case TargetState::Obstructed: return keep(R::Obstructed, Kind::Unsafe);
    case TargetState::Link: return keep(R::Link, Kind::Unsafe);
    case TargetState::NotRegular: return keep(R::NotRegular, Kind::Write);
    case TargetState::Regular:
    case TargetState::ReadOnly: break;
  }
  if (target.state == TargetState::ReadOnly && o.keepReadOnly) return keep(R::ReadOnly);
  if (o.compareDates && memberMtime <= target.mtime + tolerance) return keep(R::NotOlder);
  const Verdict replace{Action::Replace, Kind::None, R::None};
  switch (o.replace) {
    case OverwriteOptions::Replace::Always: return replace;
    case OverwriteOptions::Replace::Never: return keep(R::Never);
    case OverwriteOptions::Replace::Ask: break;
  }
  if (toAll) return *toAll ? replace : keep(R::NoToAll);
  if (!o.hasWindow) return keep(R::NoWindow, Kind::Kept);
  return Verdict{Action::Ask, Kind::None, R::None};
}

Kind PlacementFailure(TargetState state) {
  return state == TargetState::Obstructed || state == TargetState::Link ? Kind::Unsafe
                                                                        : Kind::Write;
}

namespace {

// Why something stays, for the host's report of a kept file.
const char* KeptBecause(KeepReason reason) {
  switch (reason) {
    case KeepReason::ReadOnly: return "read-only";
    case KeepReason::NotOlder: return "the existing one is not older";
    case KeepReason::Never: return "never replaced (the options say so)";
    case KeepReason::NoToAll: return "answered no to all";
    case KeepReason::NoWindow: return "nobody could be asked";
    case KeepReason::AnsweredNo: return "answered no";
    default: return "";
  }
}

}  // namespace

Verdict OverwritePolicy::Decide(const Target& target, int64_t memberMtime, int64_t tolerance,
                                const std::string& path) {
  Verdict v = DecideOverwrite(target, memberMtime, tolerance, options_, toAll_);
  if (v.action == Action::Ask) {
    const OverwriteAnswer a = ask_(path);
    if (a == OverwriteAnswer::YesToAll) toAll_ = true;
    if (a == OverwriteAnswer::NoToAll) toAll_ = false;
    v = a == OverwriteAnswer::Yes || a == OverwriteAnswer::YesToAll
            ? Verdict{Action::Replace, Kind::None, KeepReason::None}
            : Verdict{Action::Keep, Kind::None, KeepReason::AnsweredNo};
  }
  // A file left as it stood on purpose is the host's business: nothing was written for it.
  if (v.action == Action::Keep && (v.kind == Kind::None || v.kind == Kind::Kept)) {
    ReportKept(path, KeptBecause(v.reason));
  }
  return v;
}

}  // namespace tavrun::arc
