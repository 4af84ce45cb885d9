#pragma once
// Inside the legacy system identifier: the processor signature
// (cpu_signature.h), the formatting and the kernel access, each replaceable
// by tests.

#include <array>
#include <cstdint>
#include <span>

#include "probes/cpu_signature.h"
#include "probes/legacy_id.h"
#include "probes/netscan_internal.h"

// "%02X%02X%02X%02X%08X": address bytes 2 to 5 plus 0x12, 3, 6 and 2 (each
// wrapping within a byte), then the signature's low 32 bits. Returns
// snprintf's result, always 16. A negative size counts as 0.
int formatLegacySystemId(char* buffer, int size,
                         std::span<const std::uint8_t, kMacAddressSize> address,
                         std::int64_t signature);

// The first IPv4 address of the named interface, its octets in address
// bytes 2 to 5 (first octet in byte 2). Returns 0, or -1 (address then
// means nothing).
int getIpv4AddressBytes(const char* name, MacAddressSpan address);

// What snprintLegacySystemId talks to: the scan and the address queries on
// the chosen card can be given different kernel access, so a test can make
// the card "change" between the two, as it may on a live machine.
struct LegacyIdAccess {
  NetAccess scan;
  NetAccess queries;
  std::int64_t (*cpuSignature)() = getCpuSignature;
  // Whether a failure is told on stderr, as the tool does (the scan's own
  // message is scan.printMessages).
  bool printMessages = true;
};

// Which query gave the address bytes the identifier was made from.
enum class AddressSource { kNone, kPermanent, kCurrent, kIpv4 };

// What a watched run saw, for orlim-inspect. A watched run also asks the chosen card for its current address when the permanent
// one answered, to tell whether the two differ (the tool never asks).
struct LegacyIdObservation {
  ScanObservation scan;
  std::int64_t signature = 0;
  bool cardFound = false;
  std::array<char, kInterfaceNameBufferSize> card{};
  AddressSource source = AddressSource::kNone;
  std::array<std::uint8_t, kMacAddressSize> address{};  // the bytes used (IPv4: 2 to 5)
  bool permanentFound = false;
  std::array<std::uint8_t, kMacAddressSize> permanent{};
  bool currentFound = false;
  std::array<std::uint8_t, kMacAddressSize> current{};
};

int snprintLegacySystemId(char* buffer, int size, const LegacyIdAccess& access,
                          LegacyIdObservation* observation = nullptr);
