// Prints a token sealed the way the field tool seals one, from fixed fields,
// for the decoder's command-line test.
#include <cstdio>

#include "support/token_seal.h"

int main() {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 1796861430;
  for (std::size_t i = 0; i < fields.uuid.size(); ++i)
    fields.uuid[i] = static_cast<std::uint8_t>(0xF0 - i);
  const char legacy[] = "12153A58";
  for (std::size_t i = 0; i < fields.legacy.size(); ++i) fields.legacy[i] = legacy[i];
  std::fputs(orlimtest::sealToken(fields).c_str(), stdout);
  std::putchar('\n');
  return 0;
}
