// The result of one library call, shared by the archiver libraries: the kind of the first
// failure, kept apart from the texts that explain it, and each library's table from kinds to
// its public return codes. A code is always chosen from the kind, never from a message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace tavrun::arc {

// What went wrong, whatever the format.
enum class Kind : uint8_t {
  None,         // success
  CommandLine,  // bad command line
  ArchiveOpen,  // the archive is missing, unreadable or not a regular file
  NotArchive,   // not an archive of the format, or its structure is damaged
  Data,         // a member's data is damaged (CRC, length, stream)
  Source,       // a file to be added cannot be read
  Write,        // cannot write the archive or a file in the destination
  Cancelled,    // the user cancelled
  Unsafe,       // a member was refused: it would leave the destination or pass a symlink
  Kept,         // an existing file or member was kept because nobody could be asked
  Internal,     // out of memory or another unexpected failure
  Method,       // a compression method that cannot be decoded
  TooLarge,     // a file too large for the format
  Encrypted,    // an encrypted member and no password to open it
  Nothing,      // nothing to add: every file was skipped
  Password,     // wrong password, or the archive was skipped at the password question
  Engine,       // a companion library is too old
};
inline constexpr size_t kKindCount = static_cast<size_t>(Kind::Engine) + 1;

struct CodeEntry {
  Kind kind;
  int32_t code;
};

// One library's public codes, one entry per kind. Libraries declare theirs as a constexpr
// object and check Complete() with a static_assert, so no kind is ever left without a code.
class CodeTable {
 public:
  constexpr CodeTable(std::initializer_list<CodeEntry> entries) {
    for (const CodeEntry& e : entries) {
      const auto i = static_cast<size_t>(e.kind);
      duplicate_ = duplicate_ || given_[i];
      given_[i] = true;
      codes_[i] = e.code;
    }
  }
  // True when every kind has exactly one entry.
  constexpr bool Complete() const {
    if (duplicate_) return false;
    for (bool g : given_)
      if (!g) return false;
    return true;
  }
  constexpr int32_t Code(Kind kind) const { return codes_[static_cast<size_t>(kind)]; }
  // The first kind (in declaration order) with this code: kinds a library never produces share
  // its internal-failure code, and Internal is declared before them.
  constexpr std::optional<Kind> KindOf(int32_t code) const {
    for (size_t i = 0; i < kKindCount; ++i)
      if (given_[i] && codes_[i] == code) return static_cast<Kind>(i);
    return std::nullopt;
  }

 private:
  std::array<int32_t, kKindCount> codes_{};
  std::array<bool, kKindCount> given_{};
  bool duplicate_ = false;
};

// Collects what one call did: the kind of its first failure, and the lines that explain the
// failures and notes in the order they happened, after an optional summary line.
class Outcome {
 public:
  // At most `maxLines` lines are kept (a caller's buffer takes only the first few anyway).
  explicit Outcome(size_t maxLines = SIZE_MAX) : maxLines_(maxLines) {}

  // Records a failure: its kind decides the call's result unless an earlier failure did.
  void Fail(Kind kind, const std::string& reason);
  // Ends the call with this failure alone: earlier kinds, notes and the summary are moot
  // (for instance an update that failed to write changed nothing that they describe).
  void Abort(Kind kind, const std::string& reason);
  // A line that explains without failing (a file kept on purpose, a member extracted).
  void Note(const std::string& text);
  // The line shown before all others.
  void Summary(const std::string& text) { summary_ = text; }

  Kind kind() const { return kind_; }
  bool ok() const { return kind_ == Kind::None; }
  int32_t Code(const CodeTable& table) const { return table.Code(kind_); }
  // The summary, then every line, one per line.
  std::string Text() const;

 private:
  Kind kind_ = Kind::None;
  size_t maxLines_;
  std::string summary_;
  std::vector<std::string> lines_;
};

// "what: the system's text for err", the one form every library gives a failed system call.
std::string ErrnoText(const std::string& what, int err);

}  // namespace tavrun::arc
