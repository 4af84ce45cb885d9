// Collections made to flood a hash table: COUNT decoder records whose
// labels (or UUIDs) all hash alike under a fixed, unkeyed hash of the
// multiply-and-shift kind orlim-fleet once used, found by running its last
// steps backwards; and the same number with random ones, for comparison.
// Under a hash keyed per run they cost what random ones cost.
//   make_hash_flood labels|uuids|random COUNT > collection.jsonl
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr std::uint64_t kM = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kC = 0xBF58476D1CE4E5B9ULL;

// The inverse of an odd number modulo 2^64, by Newton's iteration.
constexpr std::uint64_t inverse(std::uint64_t a) {
  std::uint64_t x = a;
  for (int i = 0; i < 6; ++i) x *= 2 - a * x;
  return x;
}
constexpr std::uint64_t kMInverse = inverse(kM);
constexpr std::uint64_t kCInverse = inverse(kC);

std::uint64_t unshift(std::uint64_t y, int s) {
  std::uint64_t x = y;
  for (int i = 0; i < 64 / s + 1; ++i) x = y ^ (x >> s);
  return x;
}

// The fixed hash's state after a first word w1 of a 16-byte key, and the
// second word that brings the hash to top, for the free low half low.
std::uint64_t afterFirst(std::uint64_t w1) {
  std::uint64_t h = (16 * kM ^ w1) * kM;
  return h ^ (h >> 29);
}
std::uint64_t secondWord(std::uint64_t state, std::uint32_t top, std::uint32_t low) {
  std::uint64_t h = (static_cast<std::uint64_t>(top) << 32 | low) * kCInverse;
  h = unshift(h, 32) * kMInverse;  // before the final xor-shift and the empty tail's multiply
  h = unshift(h, 29) * kMInverse;  // before the second word's shift and multiply
  return h ^ state;
}

bool labelByte(unsigned char c) { return c > 0x20 && c < 0x7F && c != '"' && c != '\\'; }

void putRecord(const char* label, const unsigned char uuid[16]) {
  char text[40];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", uuid[0],
                uuid[1], uuid[2], uuid[3], uuid[4], uuid[5], uuid[6], uuid[7], uuid[8], uuid[9],
                uuid[10], uuid[11], uuid[12], uuid[13], uuid[14], uuid[15]);
  std::printf("{\"label\": \"%s\", \"token\": \"%s\", \"version\": 1, \"time\": 1796861430, "
              "\"time_utc\": \"2026-12-10T00:10:30Z\", \"uuid\": \"%s\", \"legacy\": \"12153A58\", "
              "\"machine\": \"%s/12153A58\", \"warnings\": []}\n",
              label, "828351548306B6F3931109457B2CC953FF9FBEE0C4776C332A26651B2A", text, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string kind = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  std::mt19937_64 random(1);
  constexpr std::uint32_t kTop = 0x5EED5EED;
  for (long i = 0; i < count; ++i) {
    unsigned char uuid[16];
    char label[32];
    for (auto& b : uuid) b = static_cast<unsigned char>(random());
    std::snprintf(label, sizeof label, "host-%08ld", i);
    if (kind == "labels") {
      // Eight printable bytes chosen, eight solved for until they are
      // printable too (about one try in 3,600).
      constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
      char first[8] = {'f', 'l', 'o', 'o', 'd', '-', kAlphabet[i % 62], kAlphabet[i / 62 % 62]};
      std::uint64_t w1;
      std::memcpy(&w1, first, 8);
      const std::uint64_t state = afterFirst(w1);
      for (std::uint32_t low = static_cast<std::uint32_t>(random());; ++low) {
        const std::uint64_t w2 = secondWord(state, kTop, low);
        unsigned char bytes[8];
        std::memcpy(bytes, &w2, 8);
        bool ok = true;
        for (unsigned char b : bytes) ok = ok && labelByte(b);
        if (!ok) continue;
        std::memcpy(label, &w1, 8);
        std::memcpy(label + 8, &w2, 8);
        label[16] = '\0';
        break;
      }
    } else if (kind == "uuids") {
      std::uint64_t w1;
      std::memcpy(&w1, uuid, 8);
      const std::uint64_t w2 = secondWord(afterFirst(w1), kTop, static_cast<std::uint32_t>(i));
      std::memcpy(uuid + 8, &w2, 8);
    } else if (kind != "random") {
      return 2;
    }
    putRecord(label, uuid);
  }
  return 0;
}
