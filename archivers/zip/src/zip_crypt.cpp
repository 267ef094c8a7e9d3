#include "zip_crypt.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <vector>

namespace tavrun::zip {

namespace {

// Traditional encryption: a 12-byte header whose last byte checks the password.
constexpr size_t kTraditionalHeader = 12;
// WinZip AES: salt, password verifier, encrypted data, authentication code.
constexpr size_t kVerifierLength = 2, kMacLength = 10;
constexpr unsigned kKeyIterations = 1000;
constexpr size_t kKeystreamBlocks = 256;

bool IsAes(zip_uint16_t method) {
  return method == ZIP_EM_AES_128 || method == ZIP_EM_AES_192 || method == ZIP_EM_AES_256;
}

size_t AesKeyLength(zip_uint16_t method) {
  return method == ZIP_EM_AES_128 ? 16 : method == ZIP_EM_AES_192 ? 24 : 32;
}

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

// The three keys of the traditional cipher.
struct TraditionalKeys {
  uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
  static void Update(uint32_t* k, const std::array<uint32_t, 256>& crc, uint8_t plain) {
    k[0] = crc[(k[0] ^ plain) & 0xFF] ^ (k[0] >> 8);
    k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
    k[2] = crc[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8);
  }
  void Update(uint8_t plain) { Update(k, CrcTable(), plain); }
  void Decrypt(uint8_t* data, size_t n) {
    const auto& crc = CrcTable();
    uint32_t key[3] = {k[0], k[1], k[2]};  // in registers for the loop
    for (size_t i = 0; i < n; ++i) {
      const uint32_t t = (key[2] | 2) & 0xFFFF;
      data[i] ^= uint8_t((t * (t ^ 1)) >> 8);
      Update(key, crc, data[i]);
    }
    std::copy(key, key + 3, k);
  }
};

// The high byte of the DOS time libzip read, as writers that put a data descriptor after the
// data check against instead of the CRC.
uint8_t DosTimeHigh(const zip_stat_t& st) {
  if (!(st.valid & ZIP_STAT_MTIME)) return 0;
  std::tm tm{};
  const time_t t = st.mtime;
  if (localtime_r(&t, &tm) == nullptr) return 0;
  return uint8_t(((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec >> 1)) >> 8);
}

bool ReadRaw(zip_file_t* f, uint8_t* data, size_t n, std::string& why) {
  while (n > 0) {
    const zip_int64_t got = zip_fread(f, data, n);
    if (got <= 0) {
      why = got < 0 ? std::string("cannot read the member data: ") + zip_file_strerror(f)
                    : std::string("the member data ends early");
      return false;
    }
    data += got;
    n -= size_t(got);
  }
  return true;
}

}  // namespace

struct DecryptingInput::State {
  zip_stat_t st{};
  uint64_t dataLeft = 0;
  TraditionalKeys traditional;
  EVP_CIPHER_CTX* aes = nullptr;  // AES-ECB over the counter blocks: the keystream
  EVP_MAC_CTX* mac = nullptr;
  uint64_t counterLow = 1, counterHigh = 0;  // little-endian, from 1
  uint8_t keystream[16 * kKeystreamBlocks] = {};
  size_t keystreamPos = 0, keystreamLength = 0;

  ~State() {
    EVP_CIPHER_CTX_free(aes);
    EVP_MAC_CTX_free(mac);
    OPENSSL_cleanse(keystream, sizeof keystream);
    OPENSSL_cleanse(traditional.k, sizeof traditional.k);
  }

  bool Refill() {
    uint8_t counters[sizeof keystream];
    for (size_t b = 0; b < kKeystreamBlocks; ++b) {
      for (int i = 0; i < 8; ++i) {
        counters[16 * b + size_t(i)] = uint8_t(counterLow >> (8 * i));
        counters[16 * b + 8 + size_t(i)] = uint8_t(counterHigh >> (8 * i));
      }
      if (++counterLow == 0) ++counterHigh;
    }
    int produced = 0;
    if (EVP_EncryptUpdate(aes, keystream, &produced, counters, int(sizeof counters)) != 1 ||
        produced != int(sizeof keystream))
      return false;
    keystreamPos = 0;
    keystreamLength = sizeof keystream;
    return true;
  }

  bool AesDecrypt(uint8_t* data, size_t n) {
    if (EVP_MAC_update(mac, data, n) != 1) return false;
    while (n > 0) {
      if (keystreamPos == keystreamLength && !Refill()) return false;
      const size_t k = std::min(n, keystreamLength - keystreamPos);
      for (size_t i = 0; i < k; ++i) data[i] ^= keystream[keystreamPos + i];
      keystreamPos += k;
      data += k;
      n -= k;
    }
    return true;
  }

  // Derives the keys from `password` and the salt; Match when the verifier agrees.
  KeyCheck BeginAes(zip_file_t* raw, const std::string& password, std::string& why) {
    const size_t keyLength = AesKeyLength(st.encryption_method), saltLength = keyLength / 2;
    if (st.comp_size < saltLength + kVerifierLength + kMacLength) {
      why = "the encryption header is damaged";
      return KeyCheck::Damaged;
    }
    uint8_t head[16 + kVerifierLength];
    if (!ReadRaw(raw, head, saltLength + kVerifierLength, why)) return KeyCheck::Damaged;
    std::vector<uint8_t> keys(2 * keyLength + kVerifierLength);
    const bool derived =
        PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), head, int(saltLength),
                               int(kKeyIterations), int(keys.size()), keys.data()) == 1;
    KeyCheck result = KeyCheck::Mismatch;
    if (derived && CRYPTO_memcmp(&keys[2 * keyLength], head + saltLength, kVerifierLength) == 0) {
      result = StartAes(keys.data(), keys.data() + keyLength, keyLength) ? KeyCheck::Match
                                                                         : KeyCheck::Damaged;
      if (result == KeyCheck::Damaged) why = "cannot set up the decryption";
    }
    OPENSSL_cleanse(keys.data(), keys.size());
    dataLeft = st.comp_size - saltLength - kVerifierLength - kMacLength;
    return result;
  }

  bool StartAes(const uint8_t* key, const uint8_t* macKey, size_t keyLength) {
    const EVP_CIPHER* cipher = keyLength == 16   ? EVP_aes_128_ecb()
                               : keyLength == 24 ? EVP_aes_192_ecb()
                                                 : EVP_aes_256_ecb();
    aes = EVP_CIPHER_CTX_new();
    if (aes == nullptr || EVP_EncryptInit_ex(aes, cipher, nullptr, key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(aes, 0) != 1)
      return false;
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    mac = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
    EVP_MAC_free(hmac);
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    return mac != nullptr && EVP_MAC_init(mac, macKey, keyLength, params) == 1;
  }

  KeyCheck BeginTraditional(zip_file_t* raw, const std::string& password, std::string& why) {
    if (st.comp_size < kTraditionalHeader) {
      why = "the encryption header is damaged";
      return KeyCheck::Damaged;
    }
    for (char c : password) traditional.Update(uint8_t(c));
    uint8_t head[kTraditionalHeader];
    if (!ReadRaw(raw, head, sizeof head, why)) return KeyCheck::Damaged;
    traditional.Decrypt(head, sizeof head);
    dataLeft = st.comp_size - kTraditionalHeader;
    // The CRC's high byte; writers that stream (data descriptor) use the time's instead.
    const uint8_t check = head[kTraditionalHeader - 1];
    return check == uint8_t(st.crc >> 24) || check == DosTimeHigh(st) ? KeyCheck::Match
                                                                      : KeyCheck::Mismatch;
  }
};

bool DecryptableEncryption(zip_uint16_t encryptionMethod) {
  return encryptionMethod == ZIP_EM_TRAD_PKWARE || IsAes(encryptionMethod);
}

DecryptingInput::DecryptingInput(zip_file_t* raw, const zip_stat_t& st)
    : raw_(raw), s_(std::make_unique<State>()) {
  s_->st = st;
}

DecryptingInput::~DecryptingInput() {
  if (raw_) zip_fclose(raw_);
}

bool DecryptingInput::Authenticated() const {
  return IsAes(s_->st.encryption_method);
}

KeyCheck DecryptingInput::Begin(const std::string& password, std::string& why) {
  if (password.find('\0') != std::string::npos) return KeyCheck::Mismatch;
  return Authenticated() ? s_->BeginAes(raw_, password, why)
                         : s_->BeginTraditional(raw_, password, why);
}

int64_t DecryptingInput::Read(uint8_t* data, size_t size, std::string& why) {
  if (s_->dataLeft == 0 || size == 0) return 0;
  const size_t want = size_t(std::min<uint64_t>(size, s_->dataLeft));
  const zip_int64_t got = zip_fread(raw_, data, want);
  if (got <= 0) {
    why = got < 0 ? std::string("cannot read the member data: ") + zip_file_strerror(raw_)
                  : std::string("the member data ends early");
    return -1;
  }
  if (Authenticated()) {
    if (!s_->AesDecrypt(data, size_t(got))) {
      why = "decryption failed";
      return -1;
    }
  } else {
    s_->traditional.Decrypt(data, size_t(got));
  }
  s_->dataLeft -= uint64_t(got);
  return got;
}

bool DecryptingInput::Finish(std::string& why) {
  if (!Authenticated()) return true;
  // The code covers every encrypted byte, also those after the end of the compressed stream.
  std::vector<uint8_t> rest(64u << 10);
  for (int64_t n; (n = Read(rest.data(), rest.size(), why)) != 0;)
    if (n < 0) return false;
  uint8_t computed[EVP_MAX_MD_SIZE], stored[kMacLength];
  size_t length = 0;
  const bool ok = EVP_MAC_final(s_->mac, computed, &length, sizeof computed) == 1 &&
                  length >= kMacLength && ReadRaw(raw_, stored, kMacLength, why) &&
                  CRYPTO_memcmp(computed, stored, kMacLength) == 0;
  OPENSSL_cleanse(computed, sizeof computed);
  if (!ok && why.empty()) why = "the authentication code does not match: the data is damaged";
  return ok;
}

KeyCheck OpenDecrypting(zip_t* za, zip_uint64_t index, const zip_stat_t& st,
                        const std::string& password, std::unique_ptr<DecryptingInput>& in,
                        std::string& why) {
  in.reset();
  if (!DecryptableEncryption(st.encryption_method)) {
    why = "encrypted with a method this library cannot decrypt";
    return KeyCheck::Damaged;
  }
  zip_file_t* raw = zip_fopen_index(za, index, ZIP_FL_ENCRYPTED);
  if (raw == nullptr) {
    why = zip_strerror(za);
    return KeyCheck::Damaged;
  }
  auto input = std::make_unique<DecryptingInput>(raw, st);
  const KeyCheck check = input->Begin(password, why);
  if (check == KeyCheck::Match) in = std::move(input);
  return check;
}

}  // namespace tavrun::zip
