// Encrypted and compressed members written by the tests themselves, for what no installed tool
// writes (Zstandard inside ZIP, lying LZMA headers) and for tampering: the traditional cipher
// and WinZip AES-256 as the formats define them, with OpenSSL for AES and HMAC.
#pragma once

#include <lzma.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zstd.h>

#include <random>
#include <string>

#include "zip_test_util.h"

namespace ziptest {

inline std::string ZstdCompress(const std::string& data, int windowLog = 0) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 3);
  if (windowLog != 0) ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog);
  // Without the content size the frame declares its window (so a test can make it lie).
  ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const size_t n = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
  ZSTD_freeCCtx(c);
  if (ZSTD_isError(n)) throw std::runtime_error("zstd");
  out.resize(n);
  return out;
}

inline std::string XzCompress(const std::string& data) {
  std::string out(lzma_stream_buffer_bound(data.size()), '\0');
  size_t pos = 0;
  if (lzma_easy_buffer_encode(1, LZMA_CHECK_CRC32, nullptr,
                              reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                              reinterpret_cast<uint8_t*>(out.data()), &pos, out.size()) != LZMA_OK)
    throw std::runtime_error("xz");
  out.resize(pos);
  return out;
}

// ZIP's LZMA (method 14): version, properties length 5, properties (lc/lp/pb and the
// dictionary size, which the header then declares as `declaredDict`), raw stream with an
// end marker.
inline std::string LzmaCompress(const std::string& data, uint32_t dict, uint32_t declaredDict) {
  lzma_options_lzma o{};
  lzma_lzma_preset(&o, 0);
  o.dict_size = dict;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string out(data.size() + data.size() / 2 + 65536, '\0');
  size_t pos = 0;
  if (lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()),
                             data.size(), reinterpret_cast<uint8_t*>(out.data()), &pos,
                             out.size()) != LZMA_OK)
    throw std::runtime_error("lzma");
  out.resize(pos);
  const char props = char((o.pb * 5 + o.lp) * 9 + o.lc);
  return std::string("\x09\x14\x05\x00", 4) + props + Le(declaredDict, 4) + out;
}

// The traditional cipher; the twelfth header byte checks the password against `crc`.
inline std::string TraditionalEncrypt(const std::string& plain, const std::string& password,
                                      uint32_t crc, unsigned seed = 1) {
  uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
  auto crc1 = [](uint32_t c, uint8_t b) {
    c ^= b;
    for (int i = 0; i < 8; ++i) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    return c;
  };
  auto update = [&](uint8_t p) {
    k[0] = crc1(k[0], p);
    k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
    k[2] = crc1(k[2], uint8_t(k[1] >> 24));
  };
  for (char c : password) update(uint8_t(c));
  std::mt19937 rng(seed);
  std::string header(12, '\0');
  for (char& c : header) c = char(rng());
  header[11] = char(crc >> 24);
  std::string out = header + plain;
  for (char& c : out) {
    const uint32_t t = (k[2] | 2) & 0xFFFF;
    const uint8_t p = uint8_t(c);
    c = char(p ^ uint8_t((t * (t ^ 1)) >> 8));
    update(p);
  }
  return out;
}

// WinZip AES-256: salt, password verifier, AES-CTR with a little-endian counter from 1,
// the first 10 bytes of HMAC-SHA1 over the encrypted data.
inline std::string AesEncrypt(const std::string& plain, const std::string& password,
                              unsigned seed = 1) {
  std::mt19937 rng(seed);
  unsigned char salt[16], keys[66];
  for (unsigned char& c : salt) c = static_cast<unsigned char>(rng());
  PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), salt, 16, 1000, 66, keys);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, keys, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::string data = plain;
  for (size_t at = 0, block = 1; at < data.size(); at += 16, ++block) {
    unsigned char counter[16] = {}, stream[32];
    for (int i = 0; i < 8; ++i) counter[i] = static_cast<unsigned char>(block >> (8 * i));
    int n = 0;
    EVP_EncryptUpdate(ctx, stream, &n, counter, 16);
    for (size_t i = 0; i < 16 && at + i < data.size(); ++i) data[at + i] ^= char(stream[i]);
  }
  EVP_CIPHER_CTX_free(ctx);
  unsigned char mac[20];
  unsigned macLength = 0;
  HMAC(EVP_sha1(), keys + 32, 32, reinterpret_cast<const unsigned char*>(data.data()), data.size(),
       mac, &macLength);
  return std::string(reinterpret_cast<char*>(salt), 16) +
         std::string(reinterpret_cast<char*>(keys + 64), 2) + data +
         std::string(reinterpret_cast<char*>(mac), 10);
}

enum class Cipher { Traditional, Aes256 };

// A member holding `compressed` (the data compressed with `method`), encrypted with
// `password`; AES version 2 stores no CRC, version 1 does.
inline HandMember EncryptedMember(const std::string& name, const std::string& data, uint16_t method,
                                  const std::string& compressed, Cipher cipher,
                                  const std::string& password, int aesVersion = 2) {
  HandMember m{name, "", method, Crc(data), data.size()};
  m.flags = method == 14 ? 1 | 2 : 1;  // bit 1: the LZMA stream ends with a marker
  if (cipher == Cipher::Traditional) {
    m.stored = TraditionalEncrypt(compressed, password, m.crc);
    return m;
  }
  m.stored = AesEncrypt(compressed, password);
  m.method = 99;
  m.extra = Le(0x9901, 2) + Le(7, 2) + Le(uint64_t(aesVersion), 2) + "AE" + '\x03' + Le(method, 2);
  if (aesVersion == 2) m.crc = 0;
  return m;
}

}  // namespace ziptest
