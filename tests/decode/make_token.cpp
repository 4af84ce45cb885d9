// Prints a token sealed the way the field tool seals one, from fixed fields
// or from the UUID (32 hex digits, record order) and time given, for the
// decoder's command-line tests and fuzz seeds.
//   make_token [UUID_HEX [SECONDS]]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/token_seal.h"

int main(int argc, char** argv) {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10))
                         : 1796861430;
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(0xF0 - i);
  if (argc > 1) {
    if (std::strlen(argv[1]) != 2 * kTokenUuidSize) return 2;
    for (std::size_t i = 0; i < fields.uuid.size(); ++i)
      fields.uuid[i] =
          static_cast<std::uint8_t>(std::stoul(std::string(argv[1] + 2 * i, 2), nullptr, 16));
  }
  const char legacy[] = "12153A58";
  for (std::size_t i = 0; i < fields.legacy.size(); ++i) fields.legacy[i] = legacy[i];
  std::fputs(orlimtest::sealToken(fields).c_str(), stdout);
  std::putchar('\n');
  return 0;
}
