#include "zip_password.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "encoding.h"
#include "password_dialog.h"
#include "zip_crypt.h"

namespace tavrun::zip {

namespace {

// A member's CRC proves the traditional password; decoding the smallest few that can be
// decoded is enough (one wrong password in 2^32 passes a CRC), and a damaged one does not
// refuse the right password while another decodes.
constexpr size_t kCrcTries = 3;

bool IsAes(const zip_stat_t& st) {
  return st.encryption_method == ZIP_EM_AES_128 || st.encryption_method == ZIP_EM_AES_192 ||
         st.encryption_method == ZIP_EM_AES_256;
}

// Encrypted members of one kind of encryption, smallest first.
struct Group {
  std::vector<zip_stat_t> members;
  bool empty() const { return members.empty(); }
};

// The encrypted members we can decrypt; the others fail one by one later.
struct Locked {
  Group traditional, aes;
  bool empty() const { return traditional.empty() && aes.empty(); }
};

Locked FindLocked(zip_t* za) {
  Locked locked;
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) continue;
    if (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || !DecryptableEncryption(st.encryption_method))
      continue;
    (IsAes(st) ? locked.aes : locked.traditional).members.push_back(st);
  }
  for (Group* g : {&locked.traditional, &locked.aes})
    std::stable_sort(
        g->members.begin(), g->members.end(),
        [](const zip_stat_t& a, const zip_stat_t& b) { return a.comp_size < b.comp_size; });
  return locked;
}

// The password bytes for each kind of encryption of the archive being extracted on this
// thread: a Japanese password is often CP932 for the traditional one and UTF-8 for AES.
struct Keys {
  std::string traditional, aes;
  void Wipe() {
    arc::WipeSecret(traditional);
    arc::WipeSecret(aes);
  }
};
thread_local Keys tKeys;

// Decrypts and decodes one member with `password`, checking what the member carries.
Kind Decode(zip_t* za, const zip_stat_t& st, const std::string& password, const ChunkSink& out,
            std::string& why) {
  std::unique_ptr<DecryptingInput> in;
  switch (OpenDecrypting(za, st.index, st, password, in, why)) {
    case KeyCheck::Match: break;
    case KeyCheck::Mismatch: why = "wrong password"; return Kind::Password;
    case KeyCheck::Damaged: return Kind::Data;
  }
  uint32_t crc = 0;
  const ChunkSink counted = [&](const uint8_t* data, size_t size, std::string& w) {
    crc = uint32_t(libdeflate_crc32(crc, data, size));
    return out(data, size, w);
  };
  switch (DecodeMember(*in, st.comp_method, st.size, counted, why)) {
    case DecodeResult::Ok: break;
    case DecodeResult::Damaged:
    case DecodeResult::Stopped: return Kind::Data;
    case DecodeResult::OverBudget: return Kind::Method;
    case DecodeResult::NoMemory: why = "out of memory"; return Kind::Internal;
  }
  if (!in->Finish(why)) return Kind::Data;
  // AES version 2 stores no CRC (0): its authentication code stands for it.
  if (crc != st.crc && !(in->Authenticated() && st.crc == 0)) {
    why = "CRC error";
    return Kind::Data;
  }
  return Kind::None;
}

// True when `bytes` agrees with every member's encryption header; a header that cannot be
// read leaves its member to fail on its own.
bool HeadersAgree(zip_t* za, const Group& group, const std::string& bytes) {
  for (const zip_stat_t& st : group.members) {
    std::unique_ptr<DecryptingInput> in;
    std::string why;
    if (OpenDecrypting(za, st.index, st, bytes, in, why) == KeyCheck::Mismatch) return false;
  }
  return true;
}

// The CRC of one of the smallest decodable members, read in full with `bytes`.
bool CrcConfirms(zip_t* za, const Group& group, const std::string& bytes) {
  size_t tried = 0;
  for (const zip_stat_t& st : group.members) {
    if (!DecodableMethod(st.comp_method)) continue;
    uint64_t total = 0;
    std::string why;
    const ChunkSink sized = [&](const uint8_t*, size_t n, std::string& w) {
      total += n;
      if (total <= st.size) return true;
      w = "too long";
      return false;
    };
    if (Decode(za, st, bytes, sized, why) == Kind::None && total == st.size) return true;
    if (++tried == kCrcTries) return false;
  }
  return tried == 0;  // nothing can be decoded: the check bytes decide
}

bool Opens(zip_t* za, const Group& group, const std::string& bytes, bool checkCrc) {
  return HeadersAgree(za, group, bytes) && (!checkCrc || CrcConfirms(za, group, bytes));
}

// Finds the bytes of the typed text that open every member of each kind of encryption: UTF-8
// for AES; UTF-8 or CP932 (what Japanese Windows tools hash) for the traditional one.
bool TryPassword(zip_t* za, const Locked& locked, const std::string& typed) {
  Keys found;
  std::string windows, cp932;
  if (!locked.traditional.empty()) {
    if (Opens(za, locked.traditional, typed, true))
      found.traditional = typed;
    else if (!arc::IsAscii(typed) &&
             arc::Utf8ToCp932(windows = arc::ToWindowsJapanese(typed), cp932) &&
             Opens(za, locked.traditional, cp932, true))
      found.traditional = cp932;
  }
  if (!locked.aes.empty() && Opens(za, locked.aes, typed, false)) found.aes = typed;
  arc::WipeSecret(windows);
  arc::WipeSecret(cp932);
  const bool opened = (locked.traditional.empty() || !found.traditional.empty()) &&
                      (locked.aes.empty() || !found.aes.empty());
  if (opened) std::swap(tKeys, found);
  found.Wipe();
  return opened;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Wipes the string it guards when the scope ends, on every path out.
struct SecretGuard {
  std::string& secret;
  ~SecretGuard() { arc::WipeSecret(secret); }
};

const std::string& KeyFor(const zip_stat_t& st) {
  return IsAes(st) ? tKeys.aes : tKeys.traditional;
}

}  // namespace

Unlock::~Unlock() {
  tKeys.Wipe();
}

bool Unlock::Try(zip_t* za, const std::string& password) {
  tKeys.Wipe();
  const Locked locked = FindLocked(za);
  return locked.empty() || (!password.empty() && TryPassword(za, locked, password));
}

bool Unlock::Open(zip_t* za, const std::string& archivePath, uintptr_t window, Outcome& report) {
  tKeys.Wipe();
  const Locked locked = FindLocked(za);
  if (locked.empty()) return true;
  std::string password = arc::RecallRunPassword();
  SecretGuard guard{password};
  if (!password.empty() && TryPassword(za, locked, password)) return true;
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    arc::WipeSecret(password);
    switch (arc::AskPassword(window, "ZIP解凍", BaseName(archivePath), attempt > 0, password)) {
      case arc::PasswordAnswer::NobodyToAsk: return true;
      case arc::PasswordAnswer::Skipped:
        report.Fail(Kind::Password, "skipped, nothing extracted: " + archivePath);
        return false;
      case arc::PasswordAnswer::Stopped:
        report.Fail(Kind::Cancelled, "stopped at the password question: " + archivePath);
        return false;
      case arc::PasswordAnswer::Entered:
        if (TryPassword(za, locked, password)) {
          arc::RememberRunPassword(password);
          return true;
        }
        break;
    }
  }
  report.Fail(Kind::Password, "wrong password, nothing extracted: " + archivePath);
  return false;
}

Kind EncryptedMemberKind(const zip_stat_t& st, std::string& why) {
  if (!DecryptableEncryption(st.encryption_method)) {
    why = "encrypted with a method this library cannot decrypt";
    return Kind::Encrypted;
  }
  if (KeyFor(st).empty()) {
    why = "encrypted";
    return Kind::Encrypted;
  }
  return Kind::None;
}

Kind ReadEncryptedMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const ChunkSink& out,
                         std::string& why) {
  if (const Kind locked = EncryptedMemberKind(st, why); locked != Kind::None) return locked;
  zip_stat_t at = st;
  at.index = index;
  return Decode(za, at, KeyFor(st), out, why);
}

}  // namespace tavrun::zip
