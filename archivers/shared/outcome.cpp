#include "outcome.h"

#include <cstring>

namespace tavrun::arc {

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

void Outcome::Fail(Kind kind, const std::string& reason) {
  if (kind_ == Kind::None) kind_ = kind;
  Note(reason);
}

void Outcome::Abort(Kind kind, const std::string& reason) {
  kind_ = kind;
  summary_.clear();
  lines_.clear();
  Note(reason);
}

void Outcome::Note(const std::string& text) {
  if (lines_.size() < maxLines_) lines_.push_back(text);
}

std::string Outcome::Text() const {
  std::string t = summary_;
  for (const std::string& l : lines_) {
    if (!t.empty()) t += '\n';
    t += l;
  }
  return t;
}

}  // namespace tavrun::arc
