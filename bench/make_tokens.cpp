// Valid tokens with random fields, one per line, for the decoder benchmark;
// or, with --key, the 32 key bytes the cipher schedules from the token key
// (hex), for the libgcrypt loop it is measured against.
//   make_tokens COUNT [SEED] | make_tokens --key
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "token/token.h"

int main(int argc, char** argv) {
  CipherContextOwner cipher = makeTokenCipher();
  if (cipher == nullptr) return 1;
  if (argc == 2 && std::strcmp(argv[1], "--key") == 0) {
    for (std::uint8_t byte : cipher->keyBytes) std::printf("%02x", byte);
    std::putchar('\n');
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_tokens COUNT [SEED] | make_tokens --key\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  std::mt19937_64 random(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1);
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (unsigned long n = 0; n < count; ++n) {
    TokenFields fields;
    fields.version = kTokenRecordVersion;
    // 2010 to 2025, so that no token draws a time warning.
    fields.time = static_cast<std::uint32_t>(1262304000 + random() % 500000000);
    for (auto& byte : fields.uuid) byte = static_cast<std::uint8_t>(random());
    for (auto& c : fields.legacy) c = kDigits[random() % 16];
    std::array<std::uint8_t, kTokenRecordSize> record{};
    packTokenRecord(record, fields);
    std::array<std::uint8_t, kTokenCipherRoom> sealed{};
    cipherContextEncrypt(record.data(), sealed.data(), kTokenRecordSize, cipher.get());
    char line[2 * kTokenRecordSize + 2];
    for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
      line[2 * i] = kDigits[sealed[i] >> 4];
      line[2 * i + 1] = kDigits[sealed[i] & 0xF];
    }
    line[2 * kTokenRecordSize] = '\n';
    std::fwrite(line, 1, 2 * kTokenRecordSize + 1, stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
