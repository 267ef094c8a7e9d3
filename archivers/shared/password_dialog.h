// Asking for an archive's password, and remembering the one that worked for the rest of a run.
// Passwords live only in memory: never logged, never written anywhere, wiped when dropped.
#pragma once

#include <cstdint>
#include <string>

namespace tavrun::arc {

// Overwrites a secret's bytes in a way the compiler may not leave out, then empties it.
void WipeSecret(std::string& secret);

enum class PasswordAnswer { Entered, Skipped, Stopped, NobodyToAsk };

// Asks the host for the password of `archiveName` (host.h), then, when it has none, in a modal
// dialog owned by `window` (title, the archive's name, the password hidden, "OK",
// "この書庫をスキップ" and "処理を中止", which stops the host's whole run: Stopped). `retry` adds
// the line saying the last password was wrong. Called off the UI thread, the dialog runs on the UI
// thread and the caller waits (the UI thread must be processing events meanwhile). Without a
// window (or without a GUI application) nothing is shown, nobody waits, and the answer is
// NobodyToAsk. On Entered, `password` holds the UTF-8 text typed. Closing the dialog skips.
PasswordAnswer AskPassword(uintptr_t window, const std::string& title,
                           const std::string& archiveName, bool retry, std::string& password);

// The password that opened an archive earlier in the host's run, or "" when there is none or
// no host keeps one.
std::string RecallRunPassword();
// Keeps `password` with the host until its run ends; does nothing without a host.
void RememberRunPassword(const std::string& password);

}  // namespace tavrun::arc
