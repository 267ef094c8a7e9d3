// The libraries' side of the host contract (include/tavrun_host.h): the table the host handed
// over, read through small functions that give the no-host answer when a member is missing.
#pragma once

#include <cstdint>
#include <string>

#include "include/tavrun_host.h"

namespace tavrun::arc {

// Keeps `host` for every later call (the entry point TavrunSetHost of each library).
void SetHost(const TavrunHost* host);

// True once the host's run is to stop.
bool HostCancelRequested();
// Tells the host to stop its whole run; false when the host cannot be told.
bool HostRequestCancel();

// The run's memory; Recall* give false / TAVRUN_ANSWER_NONE without a host.
int32_t HostRecallAnswer(const std::string& key);
void HostRememberAnswer(const std::string& key, int32_t answer);
bool HostRecallPassword(std::string& password);
void HostRememberPassword(const std::string& password);

// A password from the host; TAVRUN_PASSWORD_NONE without one.
int32_t HostAskPassword(const std::string& archive, bool retry, std::string& password);

// What happened to one file of the current call (see the contract's threading rule).
void ReportWritten(const std::string& path);
void ReportKept(const std::string& path, const std::string& why);

// The threads one call may use (at least 1; 1 without a host).
unsigned ThreadsPerCall();

}  // namespace tavrun::arc
