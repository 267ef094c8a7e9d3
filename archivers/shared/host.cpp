#include "host.h"

#include <atomic>
#include <cstddef>
#include <vector>

namespace tavrun::arc {
namespace {

std::atomic<const TavrunHost*> g_host{nullptr};

// A member the host's table is too short for counts as missing.
template <typename Member>
Member Get(const TavrunHost* host, Member TavrunHost::*member, size_t offset) {
  if (host == nullptr || host->size < offset + sizeof(Member)) return nullptr;
  return host->*member;
}

#define TAVRUN_HOST_GET(name) \
  Get(g_host.load(std::memory_order_acquire), &TavrunHost::name, offsetof(TavrunHost, name))

}  // namespace

void SetHost(const TavrunHost* host) {
  g_host.store(host, std::memory_order_release);
}

bool HostCancelRequested() {
  auto f = TAVRUN_HOST_GET(cancel_requested);
  return f != nullptr && f(g_host.load()->context) != 0;
}

bool HostRequestCancel() {
  auto f = TAVRUN_HOST_GET(request_cancel);
  if (f == nullptr) return false;
  f(g_host.load()->context);
  return true;
}

int32_t HostRecallAnswer(const std::string& key) {
  auto f = TAVRUN_HOST_GET(recall_answer);
  return f == nullptr ? TAVRUN_ANSWER_NONE : f(g_host.load()->context, key.c_str());
}

void HostRememberAnswer(const std::string& key, int32_t answer) {
  if (auto f = TAVRUN_HOST_GET(remember_answer)) f(g_host.load()->context, key.c_str(), answer);
}

bool HostRecallPassword(std::string& password) {
  auto f = TAVRUN_HOST_GET(recall_password);
  if (f == nullptr) return false;
  std::vector<char> buffer(1024, '\0');
  const bool kept = f(g_host.load()->context, buffer.data(), buffer.size()) != 0;
  if (kept) password.assign(buffer.data());
  for (char& c : buffer) *static_cast<volatile char*>(&c) = 0;
  return kept;
}

void HostRememberPassword(const std::string& password) {
  if (auto f = TAVRUN_HOST_GET(remember_password)) f(g_host.load()->context, password.c_str());
}

int32_t HostAskPassword(const std::string& archive, bool retry, std::string& password) {
  auto f = TAVRUN_HOST_GET(ask_password);
  if (f == nullptr) return TAVRUN_PASSWORD_NONE;
  std::vector<char> buffer(1024, '\0');
  const int32_t answer =
      f(g_host.load()->context, archive.c_str(), retry ? 1 : 0, buffer.data(), buffer.size());
  buffer.back() = '\0';
  if (answer == TAVRUN_PASSWORD_GIVEN) password.assign(buffer.data());
  for (char& c : buffer) *static_cast<volatile char*>(&c) = 0;
  return answer;
}

void ReportWritten(const std::string& path) {
  if (auto f = TAVRUN_HOST_GET(report)) {
    f(g_host.load()->context, TAVRUN_EVENT_WRITTEN, path.c_str(), "");
  }
}

void ReportKept(const std::string& path, const std::string& why) {
  if (auto f = TAVRUN_HOST_GET(report)) {
    f(g_host.load()->context, TAVRUN_EVENT_KEPT, path.c_str(), why.c_str());
  }
}

unsigned ThreadsPerCall() {
  auto f = TAVRUN_HOST_GET(threads_per_call);
  if (f == nullptr) return 1;
  const uint32_t n = f(g_host.load()->context);
  return n == 0 ? 1 : n;
}

}  // namespace tavrun::arc
