#include "probes/legacy_id.h"

#include <cstdio>

// Stand-in until the identifier lands.
int snprintLegacySystemId(char* buffer, int size) {
  return std::snprintf(buffer, static_cast<std::size_t>(size), "%s", "1234567890");
}
