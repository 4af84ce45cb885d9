#pragma once
// A token's fields as text: the one formatting that the key holder's decoder
// and orlim-inspect share, so that what an administrator sees on the machine
// can be compared character for character with what the decoder reads back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/uuid.h"
#include "token/token.h"

inline constexpr std::size_t kUuidTextSize = kUuidTextLength;
static_assert(kTokenUuidSize == kUuidByteCount);

// Writers into a buffer the caller sized, for the decoder's hot path; each
// returns the position after what it wrote.
// The 16 UUID bytes in record order: putUuidText (common/uuid.h).
// The legacy characters as the record holds them.
char* putLegacyText(char* p, const TokenFields& fields);

// The same as strings.
std::string formatUuid(const std::array<std::uint8_t, kTokenUuidSize>& uuid);
std::string formatLegacy(const TokenFields& fields);

// The fields that identify the machine as one JSON object, with the values
// the decoder's JSON gives them: {"version": 1, "uuid": "...", "legacy": "..."}.
// Every value is digits or hex (the caller makes legacy so): no escaping.
std::string formatIdentityJson(const TokenFields& fields);
