// Encrypted members: the password is settled for the whole archive before anything is
// written, so that skipping an archive leaves nothing of it behind. The password is checked
// by what the format gives (the traditional check byte, then a member's CRC; the AES password
// verifier) and never by whether a method can be decoded; the members are then decrypted by
// our own code (zip_crypt) for every method we decode.
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>

#include "report.h"
#include "zip_methods.h"

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
  // name of `archivePath`). A password is accepted when it agrees with the encryption header
  // of every encrypted member and, for the traditional encryption, one member decodes with
  // the right CRC (the check byte lets one wrong password in 256 through); the AES verifier
  // alone decides for AES, so a damaged AES member never refuses the right password. A typed
  // password is tried as UTF-8 and, for the traditional encryption, also as CP932. The bytes
  // that work are kept for the members; the typed text is remembered for the run.
  // Returns false, with Kind::Password in `report`, when the user skipped the archive or gave
  // up; true otherwise, also when nobody could be asked (the encrypted members then fail one
  // by one with Kind::Encrypted).
  bool Open(zip_t* za, const std::string& archivePath, uintptr_t window, Outcome& report);

  // Settles `password` without asking anybody; true when it opens the archive.
  bool Try(zip_t* za, const std::string& password);
};

// For an encrypted member about to be extracted: Kind::None when the archive's password opens
// it, else the kind of failure and the reason in `why`.
Kind EncryptedMemberKind(const zip_stat_t& st, std::string& why);

// Decrypts and decodes an encrypted member with the archive's password, handing the data to
// `out`, and checks its CRC (unless AES stores none) and AES authentication code. A failed
// check is damaged data; a member needing more memory than the budget is Kind::Method. The
// caller checks the length.
Kind ReadEncryptedMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const ChunkSink& out,
                         std::string& why);

}  // namespace tavrun::zip
