// Decryption of encrypted members by our own code, for every method we decode: the
// traditional PKWARE cipher and WinZip AES (128, 192, 256 bits). libzip 1.7 decrypts only on
// its own reading path, which refuses the methods it lacks.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>

#include "zip_methods.h"

namespace tavrun::zip {

// True when the member's encryption is one we decrypt.
bool DecryptableEncryption(zip_uint16_t encryptionMethod);

// What a password does to a member's encryption header.
enum class KeyCheck {
  Match,     // the check byte (traditional) or the password verifier (AES) agrees
  Mismatch,  // it does not: a wrong password
  Damaged,   // the header cannot be read
};

// The plain stored bytes of an encrypted member (the compressed stream), decrypted as they
// are read. For AES, Finish reads what the decoder left and compares the authentication code;
// it fails (damaged data) when the code does not match.
class DecryptingInput : public StoredInput {
 public:
  // `raw`: the member opened with ZIP_FL_ENCRYPTED; owned from here on.
  DecryptingInput(zip_file_t* raw, const zip_stat_t& st);
  ~DecryptingInput() override;
  DecryptingInput(const DecryptingInput&) = delete;
  DecryptingInput& operator=(const DecryptingInput&) = delete;

  // Reads the encryption header and checks `password` (bytes as hashed) against it.
  KeyCheck Begin(const std::string& password, std::string& why);
  int64_t Read(uint8_t* data, size_t size, std::string& why) override;
  bool Finish(std::string& why) override;
  // True when the data carries its own check besides the CRC (the AES authentication code),
  // and the CRC field may be 0 (AES version 2 stores none).
  bool Authenticated() const;

 private:
  struct State;
  zip_file_t* raw_;
  std::unique_ptr<State> s_;
};

// Opens member `index` raw and checks `password` against its header; the input is ready to
// read when the result is Match.
KeyCheck OpenDecrypting(zip_t* za, zip_uint64_t index, const zip_stat_t& st,
                        const std::string& password, std::unique_ptr<DecryptingInput>& in,
                        std::string& why);

}  // namespace tavrun::zip
