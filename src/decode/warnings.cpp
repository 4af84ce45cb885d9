#include "decode/warnings.h"

namespace {

// Clock readings before this (2005-01-01T00:00:00Z) predate every token: a
// machine whose clock says so has lost it (a flat CMOS battery starts the
// clock in 1970 or 2000).
constexpr std::uint32_t kEarliestPlausibleTime = 1104537600;

// UUIDs that firmware vendors ship in place of a per-machine one, so every
// machine of such a model gives the same. In record order, each in both byte
// orders: as read from SMBIOS 2.6 and later, and as a table older than 2.6
// gives the same stored bytes.
//  - 03000200-0400-0500-0006-000700080009: the default of a widespread BIOS
//    code base, seen in the tables of two unrelated products (a NAS and a
//    mini PC). The same template, with board-specific bytes filled in,
//    appears in a Gigabyte X399 table (032e02b4-0499-0533-a106-940700080009),
//    which is therefore unique and not listed. The other real tables we hold
//    carry per-machine UUIDs (Dell's service-tag form, a Supermicro board's
//    zeros followed by its MAC address, an HP serial number in ASCII) or an
//    all-FF UUID, which the reader refuses, so no token carries it.
constexpr std::array<std::array<std::uint8_t, kTokenUuidSize>, 2> kPlaceholderUuids = {{
    {0x03, 0x00, 0x02, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00,
     0x09},
    {0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00,
     0x09},
}};

}  // namespace

unsigned identityWarnings(const TokenFields& fields, std::int64_t now) {
  unsigned warnings = 0;
  for (const auto& placeholder : kPlaceholderUuids)
    if (fields.uuid == placeholder) warnings |= kWarnPlaceholderUuid;
  if (static_cast<std::int64_t>(fields.time) > now + kClockSkewSeconds) warnings |= kWarnFutureTime;
  if (fields.time < kEarliestPlausibleTime) warnings |= kWarnTimeBefore2005;
  return warnings;
}
