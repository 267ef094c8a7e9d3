// Asking for an archive's password, and remembering the one that worked for the rest of a run.
// Passwords live only in memory: never logged, never written anywhere, wiped when dropped.
#pragma once

#include <cstdint>
#include <string>

namespace tavrun::arc {

// Overwrites a secret's bytes in a way the compiler may not leave out, then empties it.
void WipeSecret(std::string& secret);

enum class PasswordAnswer { Entered, Skipped, NobodyToAsk };

// Asks for the password of `archiveName` in a modal dialog owned by `window` (title, the
// archive's name, the password hidden, "OK" and "この書庫をスキップ"). `retry` adds the line
// saying the last password was wrong. Called off the UI thread, the dialog runs on the UI
// thread and the caller waits (the UI thread must be processing events meanwhile). Without a
// window (or without a GUI application) nothing is shown, nobody waits, and the answer is
// NobodyToAsk. On Entered, `password` holds the UTF-8 text typed. Closing the dialog skips.
PasswordAnswer AskPassword(uintptr_t window, const std::string& title,
                           const std::string& archiveName, bool retry, std::string& password);

// The password that opened an archive earlier in this run, or "" when there is none or no
// run is going on (no "tavrunRunScope" object).
std::string RecallRunPassword();
// Keeps `password` until the run ends; does nothing outside a run.
void RememberRunPassword(const std::string& password);

}  // namespace tavrun::arc
