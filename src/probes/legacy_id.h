#pragma once

namespace probes {
// Legacy system identifier: four bytes of the identifying card's hardware
// address and the processor signature, as 16 upper-case hex digits.

// The identifier's length; a buffer for it needs one more byte.
inline constexpr int kLegacySystemIdLength = 16;

// Writes the identifier (or the fallback "1234567890") as snprintf does and
// returns the full length formed: 16, or 10 for the fallback.
int snprintLegacySystemId(char* buffer, int size);

}  // namespace probes
