// Encrypted members: the password is settled for the whole archive before anything is
// written, so that skipping an archive leaves nothing of it behind.
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>

#include "report.h"

namespace tavrun::zip {

// How many wrong passwords the dialog takes for one archive before giving up on it.
constexpr int kPasswordAttempts = 5;

// Settles the password of one open archive for one extraction; the password's bytes are
// kept for that extraction only and wiped when this object goes.
class Unlock {
 public:
  Unlock() = default;
  Unlock(const Unlock&) = delete;
  Unlock& operator=(const Unlock&) = delete;
  ~Unlock();

  // When the archive has encrypted members, finds their password: first the one that opened
  // an archive earlier in the run, then by asking the owner of `window` (the dialog shows the
  // name of `archivePath`). A password is accepted only when it opens every encrypted member
  // and the smallest of them decrypts with the right CRC (or AES authentication code). A typed
  // password is tried as UTF-8 and, for the traditional encryption, also as CP932. The bytes
  // that work are kept for OpenMember; the typed text is remembered for the run.
  // Returns false, with Kind::Password in `report`, when the user skipped the archive or gave
  // up; true otherwise, also when nobody could be asked (the encrypted members then fail one
  // by one with Kind::Encrypted).
  bool Open(zip_t* za, const std::string& archivePath, uintptr_t window, Outcome& report);
};

// True when a member whose read ended in a CRC error is a WinZip AES member that stores no CRC
// and whose authentication code is right for the password of the current Unlock.
bool AuthenticatedWithoutCrc(zip_t* za, zip_uint64_t index, const zip_stat_t& st);

// Opens a member for reading with the password the current Unlock found for its kind of
// encryption (none for a plain member); NULL with the failure in the archive's error.
zip_file_t* OpenMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st);

// For an encrypted member about to be extracted: Kind::None when the archive's password
// opens it, else the kind of failure and the reason in `why`.
Kind EncryptedMemberKind(zip_t* za, zip_uint64_t index, std::string& why);

}  // namespace tavrun::zip
