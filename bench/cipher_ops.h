#pragma once
// The jobs that the cipher benchmark and the instruction counter compare:
// this project's Twofish and nettle's and libgcrypt's, each doing the same
// work through its ordinary interface.

#include <gcrypt.h>
#include <nettle/cbc.h>
#include <nettle/twofish.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "cipher/cipher_context.h"
#include "cipher/twofish.h"

struct CipherBenchData {
  std::array<std::uint8_t, 32> key;
  std::array<std::uint8_t, 16> block;
  std::array<std::uint8_t, 4096> plain;
  std::array<std::uint8_t, 4096> cipher;
  std::array<std::uint8_t, 29> record;
  std::array<std::uint8_t, 32> token;
};

inline CipherBenchData& benchData() {
  static CipherBenchData data = [] {
    CipherBenchData d{};
    for (std::size_t i = 0; i < d.key.size(); ++i) d.key[i] = static_cast<std::uint8_t>(i * 29 + 7);
    for (std::size_t i = 0; i < d.plain.size(); ++i)
      d.plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
    for (std::size_t i = 0; i < d.record.size(); ++i) d.record[i] = static_cast<std::uint8_t>(i);
    return d;
  }();
  return data;
}

struct OrlimTwofish {
  static constexpr const char* kName = "orlim";
  OrlimTwofish() : context(cipherContextCreate(benchData().key.data(), 32)) {}
  void keySetup() { twofishExpandKey(*context); }
  void oneBlock() {
    auto& block = benchData().block;
    twofishProcessBlock(block, block, 0, *context);
  }
  void cbc4k() {
    CipherBenchData& d = benchData();
    cipherContextEncrypt(d.plain.data(), d.cipher.data(), 4096, context.get());
  }
  // Create a context, encrypt a 29-byte record, release the context.
  static void tokenJob() {
    CipherBenchData& d = benchData();
    CipherContext* c = cipherContextCreate(d.key.data(), 32);
    cipherContextEncrypt(d.record.data(), d.token.data(), 29, c);
    cipherContextRelease(c);
  }
  CipherContextOwner context;
};

inline void nettleTwofishEncrypt(const void* ctx, std::size_t length, std::uint8_t* dst,
                                 const std::uint8_t* src) {
  twofish_encrypt(static_cast<const twofish_ctx*>(ctx), length, dst, src);
}

struct NettleTwofish {
  static constexpr const char* kName = "nettle";
  NettleTwofish() { twofish256_set_key(&context, benchData().key.data()); }
  void keySetup() { twofish256_set_key(&context, benchData().key.data()); }
  void oneBlock() {
    auto& block = benchData().block;
    twofish_encrypt(&context, 16, block.data(), block.data());
  }
  void cbc4k() {
    CipherBenchData& d = benchData();
    std::uint8_t iv[16] = {};
    cbc_encrypt(&context, nettleTwofishEncrypt, 16, iv, 4096, d.cipher.data(), d.plain.data());
  }
  // nettle has no ciphertext stealing: CBC over the zero-filled record, then
  // the last two blocks swapped, the first cut to 13 bytes.
  static void tokenJob() {
    CipherBenchData& d = benchData();
    twofish_ctx c;
    twofish256_set_key(&c, d.key.data());
    std::uint8_t padded[32] = {};
    std::memcpy(padded, d.record.data(), 29);
    std::uint8_t iv[16] = {};
    std::uint8_t out[32];
    cbc_encrypt(&c, nettleTwofishEncrypt, 16, iv, 32, out, padded);
    std::memcpy(d.token.data(), out + 16, 16);
    std::memcpy(d.token.data() + 16, out, 13);
  }
  twofish_ctx context;
};

inline void gcryptInit() {
  static const bool done = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)done;
}

struct GcryptTwofish {
  static constexpr const char* kName = "libgcrypt";
  GcryptTwofish() {
    gcryptInit();
    gcry_cipher_open(&ecb, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_ECB, 0);
    gcry_cipher_open(&cbc, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, 0);
    gcry_cipher_setkey(ecb, benchData().key.data(), 32);
    gcry_cipher_setkey(cbc, benchData().key.data(), 32);
  }
  ~GcryptTwofish() {
    gcry_cipher_close(ecb);
    gcry_cipher_close(cbc);
  }
  GcryptTwofish(const GcryptTwofish&) = delete;
  GcryptTwofish& operator=(const GcryptTwofish&) = delete;
  void keySetup() { gcry_cipher_setkey(ecb, benchData().key.data(), 32); }
  void oneBlock() {
    auto& block = benchData().block;
    gcry_cipher_encrypt(ecb, block.data(), 16, nullptr, 0);
  }
  void cbc4k() {
    CipherBenchData& d = benchData();
    const std::uint8_t iv[16] = {};
    gcry_cipher_setiv(cbc, iv, 16);
    gcry_cipher_encrypt(cbc, d.cipher.data(), 4096, d.plain.data(), 4096);
  }
  // Open a CBC handle with ciphertext stealing, set the key, encrypt the
  // record, close.
  static void tokenJob() {
    gcryptInit();
    CipherBenchData& d = benchData();
    gcry_cipher_hd_t h = nullptr;
    gcry_cipher_open(&h, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_CBC_CTS);
    gcry_cipher_setkey(h, d.key.data(), 32);
    gcry_cipher_encrypt(h, d.token.data(), d.token.size(), d.record.data(), 29);
    gcry_cipher_close(h);
  }
  gcry_cipher_hd_t ecb = nullptr;
  gcry_cipher_hd_t cbc = nullptr;
};
