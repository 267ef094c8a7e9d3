#include "engine/host.h"

#include <cstring>

#include "archivers/shared/include/tavrun_host.h"

namespace tavrun {
namespace {

std::atomic<RunSession*> g_session{nullptr};
thread_local CallRecorder* t_recorder = nullptr;

// The table's functions: each speaks for the open session and answers "nothing" without one.
int32_t CancelRequested(void*) {
  RunSession* session = g_session.load();
  return session != nullptr && session->CancelRequested() ? 1 : 0;
}

void RequestCancel(void*) {
  if (RunSession* session = g_session.load()) session->RequestCancel();
}

int32_t RecallAnswer(void*, const char* key) {
  RunSession* session = g_session.load();
  return session != nullptr && key != nullptr ? session->RecallAnswer(key) : TAVRUN_ANSWER_NONE;
}

void RememberAnswer(void*, const char* key, int32_t answer) {
  if (RunSession* session = g_session.load(); session != nullptr && key != nullptr) {
    session->RememberAnswer(key, answer);
  }
}

// Copies a secret into the library's buffer; false when it does not fit whole.
bool CopySecret(const std::string& secret, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0 || secret.size() >= size) return false;
  std::memcpy(buffer, secret.c_str(), secret.size() + 1);
  return true;
}

int32_t RecallPassword(void*, char* password, uint32_t size) {
  RunSession* session = g_session.load();
  std::string kept;
  if (session == nullptr || !session->RecallPassword(kept)) return 0;
  const bool copied = CopySecret(kept, password, size);
  WipeText(kept);
  return copied ? 1 : 0;
}

void RememberPassword(void*, const char* password) {
  if (RunSession* session = g_session.load(); session != nullptr && password != nullptr) {
    session->RememberPassword(password);
  }
}

int32_t AskPassword(void*, const char* archive, int32_t retry, char* password, uint32_t size) {
  RunSession* session = g_session.load();
  if (session == nullptr || archive == nullptr) return TAVRUN_PASSWORD_NONE;
  std::string given;
  int32_t answer = session->AskPassword(archive, retry != 0, given);
  if (answer == TAVRUN_PASSWORD_GIVEN && !CopySecret(given, password, size)) {
    answer = TAVRUN_PASSWORD_SKIP;  // too long for the library: never a cut password
  }
  WipeText(given);
  if (answer == TAVRUN_PASSWORD_STOP) session->RequestCancel();
  return answer;
}

void Report(void*, int32_t event, const char* path, const char* text) {
  if (CallRecorder* recorder = CallRecorder::OnThisThread()) recorder->Add(event, path, text);
}

uint32_t ThreadsPerCall(void*) {
  RunSession* session = g_session.load();
  return session != nullptr ? session->ThreadsPerCall() : 1;
}

}  // namespace

RunSession::RunSession() {
  RunSession* none = nullptr;
  // A second session at once would mix two runs' answers; the first one keeps the host.
  g_session.compare_exchange_strong(none, this);
}

RunSession::~RunSession() {
  RunSession* self = this;
  g_session.compare_exchange_strong(self, nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  WipeText(password_);
}

RunSession* RunSession::Current() {
  return g_session.load();
}

int32_t RunSession::RecallAnswer(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = answers_.find(key);
  return found == answers_.end() ? TAVRUN_ANSWER_NONE : found->second;
}

void RunSession::RememberAnswer(const std::string& key, int32_t answer) {
  if (answer != TAVRUN_ANSWER_YES_TO_ALL && answer != TAVRUN_ANSWER_NO_TO_ALL) return;
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[key] = answer;
}

bool RunSession::RecallPassword(std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (password_.empty()) return false;
  password = password_;
  return true;
}

void RunSession::RememberPassword(const std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  WipeText(password_);
  password_ = password;
}

int32_t RunSession::AskPassword(const std::string& archive, bool retry, std::string& password) {
  if (!passwordSource_) return TAVRUN_PASSWORD_NONE;
  return passwordSource_(archive, retry, password);
}

CallRecorder::CallRecorder() : outer_(t_recorder) {
  t_recorder = this;
}

CallRecorder::~CallRecorder() {
  t_recorder = outer_;
}

CallRecorder* CallRecorder::OnThisThread() {
  return t_recorder;
}

void CallRecorder::Add(int32_t event, const char* path, const char* text) {
  if (event == TAVRUN_EVENT_WRITTEN) {
    ++report_.written;
  } else if (event == TAVRUN_EVENT_KEPT) {
    report_.kept.emplace_back(path != nullptr ? path : "", text != nullptr ? text : "");
  }
}

const TavrunHost* HostTable() {
  static const TavrunHost table = [] {
    TavrunHost t{};
    t.size = sizeof(TavrunHost);
    t.version = TAVRUN_HOST_VERSION;
    t.context = nullptr;
    t.cancel_requested = CancelRequested;
    t.request_cancel = RequestCancel;
    t.recall_answer = RecallAnswer;
    t.remember_answer = RememberAnswer;
    t.recall_password = RecallPassword;
    t.remember_password = RememberPassword;
    t.ask_password = AskPassword;
    t.report = Report;
    t.threads_per_call = ThreadsPerCall;
    return t;
  }();
  return &table;
}

void WipeText(std::string& secret) {
  volatile char* bytes = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

}  // namespace tavrun
