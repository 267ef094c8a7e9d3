#include "zip_password.h"

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

// The encrypted members this libzip can decrypt; the others fail one by one later.
struct Locked {
  std::vector<zip_uint64_t> members;
  zip_uint64_t smallest = 0;
  bool traditional = false;
};

Locked FindLocked(zip_t* za) {
  Locked locked;
  zip_uint64_t smallestSize = UINT64_MAX;
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) continue;
    if (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE ||
        !zip_encryption_method_supported(st.encryption_method, 0))
      continue;
    locked.members.push_back(zip_uint64_t(i));
    locked.traditional |= st.encryption_method == ZIP_EM_TRAD_PKWARE;
    if (st.comp_size < smallestSize) {
      smallestSize = st.comp_size;
      locked.smallest = zip_uint64_t(i);
    }
  }
  return locked;
}

// Reads a member to its end, where libzip checks the CRC (and the AES authentication code).
bool DecryptsCleanly(zip_t* za, zip_uint64_t index, const std::string& bytes) {
  std::unique_ptr<zip_file_t, FileCloser> f(
      zip_fopen_index_encrypted(za, index, 0, bytes.c_str()));
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
bool Opens(zip_t* za, const Locked& locked, const std::string& bytes) {
  for (zip_uint64_t index : locked.members) {
    std::unique_ptr<zip_file_t, FileCloser> f(
        zip_fopen_index_encrypted(za, index, 0, bytes.c_str()));
    if (!f) return false;
  }
  return DecryptsCleanly(za, locked.smallest, bytes);
}

// Tries the typed text as UTF-8 and, where the traditional encryption is used, as CP932 (what
// Japanese Windows tools hash). On success the working bytes become the default password.
bool TryPassword(zip_t* za, const Locked& locked, const std::string& typed) {
  std::vector<std::string> forms{typed};
  std::string cp932;
  if (locked.traditional && !arc::IsAscii(typed) && arc::Utf8ToCp932(typed, cp932) &&
      cp932 != typed)
    forms.push_back(cp932);
  bool opened = false;
  for (const std::string& bytes : forms) {
    if (bytes.find('\0') == std::string::npos && Opens(za, locked, bytes)) {
      opened = zip_set_default_password(za, bytes.c_str()) == 0;
      break;
    }
  }
  arc::WipeSecret(cp932);
  for (std::string& bytes : forms) arc::WipeSecret(bytes);
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

bool UnlockArchive(zip_t* za, const std::string& archivePath, uintptr_t window,
                   Report& report) {
  const Locked locked = FindLocked(za);
  if (locked.members.empty()) return true;
  std::string password = arc::RecallRunPassword();
  SecretGuard guard{password};
  if (!password.empty() && TryPassword(za, locked, password)) return true;
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    arc::WipeSecret(password);
    switch (arc::AskPassword(window, "ZIP解凍", BaseName(archivePath), attempt > 0, password)) {
      case arc::PasswordAnswer::NobodyToAsk:
        return true;
      case arc::PasswordAnswer::Skipped:
        report.Fail(TAVRUN_ZIP_E_PASSWORD, "skipped, nothing extracted: " + archivePath);
        return false;
      case arc::PasswordAnswer::Entered:
        if (TryPassword(za, locked, password)) {
          arc::RememberRunPassword(password);
          return true;
        }
        break;
    }
  }
  report.Fail(TAVRUN_ZIP_E_PASSWORD, "wrong password, nothing extracted: " + archivePath);
  return false;
}

int32_t EncryptedMemberCode(zip_t* za, zip_uint64_t index, std::string& why) {
  std::unique_ptr<zip_file_t, FileCloser> f(zip_fopen_index(za, index, 0));
  if (f) return TAVRUN_ZIP_OK;
  switch (zip_error_code_zip(zip_get_error(za))) {
    case ZIP_ER_NOPASSWD:
      why = "encrypted";
      return TAVRUN_ZIP_E_ENCRYPTED;
    case ZIP_ER_ENCRNOTSUPP:
      why = "encrypted with a method this library cannot decrypt";
      return TAVRUN_ZIP_E_ENCRYPTED;
    case ZIP_ER_WRONGPASSWD:
      why = "wrong password";
      return TAVRUN_ZIP_E_PASSWORD;
    case ZIP_ER_MEMORY:
      why = "out of memory";
      return TAVRUN_ZIP_E_INTERNAL;
    default:
      why = zip_strerror(za);
      return TAVRUN_ZIP_E_DATA;
  }
}

}  // namespace tavrun::zip
