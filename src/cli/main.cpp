// orlim: prints this machine's system-ID token.

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>

#include "common/hex.h"
#include "common/io.h"
#include "common/wipe.h"
#include "token/token.h"
#include "probes/legacy_id.h"
#include "probes/smbios.h"

namespace {

void printUsage() {
  std::puts("Usage: orlim [-h]");
  std::puts("-u            | Read ID");
  std::puts("-v            | Verbose");
  std::puts("-h            | Print help");
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else, so an ordinary user learns nothing, not even usage.
  if (geteuid() != 0) {
    static const char kNotRoot[] = "Please run as root\n";
    std::fwrite(kNotRoot, 1, sizeof kNotRoot - 1, stderr);
    return 1;
  }

  bool readId = false;
  bool verbose = false;
  for (int option; (option = getopt(argc, argv, "huv")) != -1;) {
    switch (option) {
      case 'u':
        readId = true;
        break;
      case 'v':
        verbose = true;
        break;
      case 'h':
        printUsage();
        std::exit(0);
      default:
        break;  // getopt has already said what was wrong; carry on
    }
  }
  if (!readId) {
    printUsage();
    std::exit(1);
  }

  std::array<char, kTokenKeyBufferSize> key;
  const WipeOnExit keyWiper(key);
  buildTokenKey(key);

  // The time is taken before the probes so it marks when the run began.
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = static_cast<std::uint32_t>(std::time(nullptr));

  std::array<std::uint8_t, kTokenUuidSize> uuid;
  int uuidResult = probes::readSystemUUID(uuid);
  std::array<char, probes::kLegacySystemIdLength + 1> legacyId;
  int legacyLength =
      probes::snprintLegacySystemId(legacyId.data(), static_cast<int>(legacyId.size()));
  if (uuidResult != 0 || legacyLength != probes::kLegacySystemIdLength) {
    if (verbose)
      std::fprintf(stderr, "Failure reading system ID (%d/%d)\n", uuidResult, legacyLength);
    return 0;
  }

  fields.uuid = uuid;
  std::memcpy(fields.legacy.data(), legacyId.data(), kTokenLegacySize);
  std::array<std::uint8_t, kTokenRecordSize> record;
  packTokenRecord(record, fields);

  std::array<std::uint8_t, kTokenCipherRoom> output;
  int count =
      encryptWithKey(record.data(), static_cast<int>(record.size()), key.data(), output.data());
  wipe(key.data(), key.size());  // the prepared key has no further use

  // Byte for byte what printf("%02X") per byte and a final line feed would
  // print, in one write: formatting 29 bytes through printf costs more
  // instructions than the rest of the run together, and stdio's first write
  // costs a system call of its own to size its buffer.
  std::array<char, 2 * output.size() + 1> line;
  std::size_t length = 0;
  for (int i = 0; i < count; ++i) {
    unsigned byte = output[static_cast<std::size_t>(i)];
    line[length++] = kUpperHexDigits[byte >> 4];
    line[length++] = kUpperHexDigits[byte & 0xF];
  }
  line[length++] = '\n';
  std::fflush(stdout);  // anything a probe left in stdio goes first
  (void)writeAll(STDOUT_FILENO, std::span<const char>(line.data(), length));  // nobody to tell
  return 0;
}
