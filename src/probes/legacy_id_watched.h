#pragma once
// The legacy system identifier watched, for orlim-inspect: the same run
// orlim makes, through kernel access it is given (replaceable by tests),
// with a record of the card chosen and the address queries' answers.

#include <array>
#include <cstdint>

#include "probes/cpu_signature.h"
#include "probes/legacy_id.h"
#include "probes/netscan_watched.h"

namespace probes {

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

// What a watched run saw, for orlim-inspect. A watched run also asks the chosen card for its
// current address when the permanent one answered, to tell whether the two differ (the tool never
// asks).
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
  // The chosen card's driver, device links and address origin: filled by
  // orlim-inspect after the run (describeInterface), never by the run itself.
  InterfaceDetails details;
};

int snprintLegacySystemId(char* buffer, int size, const LegacyIdAccess& access,
                          LegacyIdObservation* observation = nullptr);

}  // namespace probes
