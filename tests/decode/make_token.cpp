// Prints a token sealed the way the field tool seals one, from fixed fields,
// for the decoder's command-line test.
#include <array>
#include <cstdio>

#include "token/token.h"

int main() {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 1796861430;
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(0xF0 - i);
  const char legacy[] = "12153A58";
  for (std::size_t i = 0; i < fields.legacy.size(); ++i) fields.legacy[i] = legacy[i];
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, fields);
  std::array<char, kTokenKeyBufferSize> key{};
  buildTokenKey(key);
  std::array<std::uint8_t, kTokenCipherRoom> out{};
  int count =
      encryptWithKey(record.data(), static_cast<int>(record.size()), key.data(), out.data());
  for (int i = 0; i < count; ++i) std::printf("%02X", out[static_cast<std::size_t>(i)]);
  std::putchar('\n');
  return 0;
}
