#include "zip_password.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "encoding.h"
#include "password_dialog.h"

namespace tavrun::zip {

namespace {

struct FileCloser {
  void operator()(zip_file_t* f) const {
    if (f) zip_fclose(f);
  }
};

// Encrypted members of one kind of encryption, and the smallest of them.
struct Group {
  std::vector<zip_uint64_t> members;
  zip_uint64_t smallest = 0;
  zip_uint64_t smallestSize = UINT64_MAX;
  void Add(zip_uint64_t index, zip_uint64_t size) {
    members.push_back(index);
    if (size < smallestSize) smallestSize = size, smallest = index;
  }
};

// The encrypted members this libzip can decrypt; the others fail one by one later.
struct Locked {
  Group traditional, aes;
  bool empty() const { return traditional.members.empty() && aes.members.empty(); }
};

bool IsAes(const zip_stat_t& st) {
  return st.encryption_method == ZIP_EM_AES_128 || st.encryption_method == ZIP_EM_AES_192 ||
         st.encryption_method == ZIP_EM_AES_256;
}

Locked FindLocked(zip_t* za) {
  Locked locked;
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) continue;
    if (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) ||
        !zip_encryption_method_supported(st.encryption_method, 0))
      continue;
    if (st.encryption_method == ZIP_EM_TRAD_PKWARE)
      locked.traditional.Add(zip_uint64_t(i), st.comp_size);
    if (IsAes(st)) locked.aes.Add(zip_uint64_t(i), st.comp_size);
  }
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

bool ReadExactly(zip_file_t* f, uint8_t* data, size_t size) {
  while (size > 0) {
    zip_int64_t got = zip_fread(f, data, size);
    if (got <= 0) return false;
    data += got;
    size -= size_t(got);
  }
  return true;
}

struct MacCloser {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};

// WinZip AES data: salt, password verifier, encrypted data, authentication code.
constexpr size_t kVerifierLength = 2, kMacLength = 10;
constexpr unsigned kKeyIterations = 1000;

size_t AesKeyLength(zip_uint16_t method) {
  return method == ZIP_EM_AES_128 ? 16 : method == ZIP_EM_AES_192 ? 24 : 32;
}

// The encryption key, the authentication key and the verifier, from the password and salt.
bool DeriveAesKeys(const std::string& password, const uint8_t* salt, size_t keyLength,
                   std::vector<uint8_t>& keys) {
  keys.assign(2 * keyLength + kVerifierLength, 0);
  return PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), salt, int(keyLength / 2),
                                int(kKeyIterations), int(keys.size()), keys.data()) == 1;
}

// HMAC-SHA1 over the next `length` bytes of `f`, compared with the code that follows them.
bool MacMatches(zip_file_t* f, uint64_t length, const uint8_t* key, size_t keyLength) {
  std::unique_ptr<EVP_MAC, MacCloser> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  std::unique_ptr<EVP_MAC_CTX, MacCloser> ctx(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                         OSSL_PARAM_construct_end()};
  bool ok = ctx && EVP_MAC_init(ctx.get(), key, keyLength, params) == 1;
  std::vector<uint8_t> buf(64u << 10);
  for (uint64_t left = length; ok && left > 0;) {
    const size_t n = size_t(std::min<uint64_t>(left, buf.size()));
    ok = ReadExactly(f, buf.data(), n) && EVP_MAC_update(ctx.get(), buf.data(), n) == 1;
    left -= n;
  }
  uint8_t computed[EVP_MAX_MD_SIZE], stored[kMacLength];
  size_t computedLength = 0;
  ok = ok && EVP_MAC_final(ctx.get(), computed, &computedLength, sizeof computed) == 1 &&
       computedLength >= kMacLength && ReadExactly(f, stored, kMacLength) &&
       CRYPTO_memcmp(computed, stored, kMacLength) == 0;
  OPENSSL_cleanse(computed, sizeof computed);
  return ok;
}

// Checks a WinZip AES member's authentication code with `password`. Needed because members
// of the format's second version store no CRC (0), which this libzip still compares, so its
// own read of them always ends in a CRC error.
bool AesAuthentic(zip_t* za, zip_uint64_t index, const zip_stat_t& st,
                  const std::string& password) {
  const size_t keyLength = AesKeyLength(st.encryption_method), saltLength = keyLength / 2;
  const uint64_t overhead = saltLength + kVerifierLength + kMacLength;
  if (st.comp_size < overhead) return false;
  std::unique_ptr<zip_file_t, FileCloser> f(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  uint8_t head[16 + kVerifierLength];
  if (!f || !ReadExactly(f.get(), head, saltLength + kVerifierLength)) return false;
  std::vector<uint8_t> keys;
  const bool ok = DeriveAesKeys(password, head, keyLength, keys) &&
                  CRYPTO_memcmp(&keys[2 * keyLength], head + saltLength, kVerifierLength) == 0 &&
                  MacMatches(f.get(), st.comp_size - overhead, &keys[keyLength], keyLength);
  OPENSSL_cleanse(keys.data(), keys.size());
  return ok;
}

// Reads a member to its end, where libzip checks the CRC; AES members are authenticated.
bool DecryptsCleanly(zip_t* za, zip_uint64_t index, const std::string& bytes) {
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) return false;
  if (IsAes(st)) return AesAuthentic(za, index, st, bytes);
  std::unique_ptr<zip_file_t, FileCloser> f(zip_fopen_index_encrypted(za, index, 0, bytes.c_str()));
  if (!f) return false;
  std::vector<char> buf(64u << 10);
  for (;;) {
    zip_int64_t got = zip_fread(f.get(), buf.data(), buf.size());
    if (got < 0) return false;
    if (got == 0) return true;
  }
}

// The check value in each member's encryption header makes a wrong password fail on opening
// nearly always; the CRC of one member catches the rest (1 in 256 for the traditional one).
bool Opens(zip_t* za, const Group& group, const std::string& bytes) {
  if (bytes.find('\0') != std::string::npos) return false;
  for (zip_uint64_t index : group.members) {
    std::unique_ptr<zip_file_t, FileCloser> f(
        zip_fopen_index_encrypted(za, index, 0, bytes.c_str()));
    if (!f) return false;
  }
  return DecryptsCleanly(za, group.smallest, bytes);
}

// Finds the bytes of the typed text that open every member of each kind of encryption: UTF-8
// for AES; UTF-8 or CP932 (what Japanese Windows tools hash) for the traditional one.
bool TryPassword(zip_t* za, const Locked& locked, const std::string& typed) {
  Keys found;
  std::string cp932;
  if (!locked.traditional.members.empty()) {
    if (Opens(za, locked.traditional, typed))
      found.traditional = typed;
    else if (!arc::IsAscii(typed) && arc::Utf8ToCp932(typed, cp932) &&
             Opens(za, locked.traditional, cp932))
      found.traditional = cp932;
  }
  if (!locked.aes.members.empty() && Opens(za, locked.aes, typed)) found.aes = typed;
  arc::WipeSecret(cp932);
  const bool opened = (locked.traditional.members.empty() || !found.traditional.empty()) &&
                      (locked.aes.members.empty() || !found.aes.empty());
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

}  // namespace

Unlock::~Unlock() {
  tKeys.Wipe();
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

bool AuthenticatedWithoutCrc(zip_t* za, zip_uint64_t index, const zip_stat_t& st) {
  return IsAes(st) && st.crc == 0 && !tKeys.aes.empty() && AesAuthentic(za, index, st, tKeys.aes);
}

zip_file_t* OpenMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st) {
  const std::string& key =
      st.encryption_method == ZIP_EM_TRAD_PKWARE ? tKeys.traditional : tKeys.aes;
  if (st.encryption_method == ZIP_EM_NONE || key.empty()) return zip_fopen_index(za, index, 0);
  return zip_fopen_index_encrypted(za, index, 0, key.c_str());
}

Kind EncryptedMemberKind(zip_t* za, zip_uint64_t index, std::string& why) {
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) {
    why = zip_strerror(za);
    return Kind::NotArchive;
  }
  std::unique_ptr<zip_file_t, FileCloser> f(OpenMember(za, index, st));
  if (f) return Kind::None;
  switch (zip_error_code_zip(zip_get_error(za))) {
    case ZIP_ER_NOPASSWD: why = "encrypted"; return Kind::Encrypted;
    case ZIP_ER_ENCRNOTSUPP:
      why = "encrypted with a method this library cannot decrypt";
      return Kind::Encrypted;
    case ZIP_ER_WRONGPASSWD: why = "wrong password"; return Kind::Password;
    case ZIP_ER_MEMORY: why = "out of memory"; return Kind::Internal;
    default: why = zip_strerror(za); return Kind::Data;
  }
}

}  // namespace tavrun::zip
