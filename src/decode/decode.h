#pragma once
// The key holder's side: turning a printed token back into its fields.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "token/token.h"
#include "token/token_text.h"  // formatUuid, shared with orlim-inspect

enum class DecodeStatus {
  kOk,
  kNotHex,       // a character other than a hex digit
  kWrongLength,  // not 58 hex digits
  kNotOurs,      // decrypts to no valid record: another key, or corrupted
};

struct DecodeResult {
  DecodeStatus status = DecodeStatus::kNotHex;
  TokenFields fields;
  std::string token;       // the 58 digits as given, white space trimmed, upper case
  std::size_t badAt = 0;   // kNotHex: 1-based position of the first bad character
  std::size_t digits = 0;  // kWrongLength: how many digits there were
};

// Accepts upper- or lower-case hex with white space around it.
DecodeResult decodeToken(std::string_view text);

// "not 58 hex digits (57)" and so on: what is wrong, for a message.
std::string describeFailure(const DecodeResult& result);

// One token's fields as text lines, or as one JSON object on one line.
std::string formatFields(const DecodeResult& result);
std::string formatJson(const DecodeResult& result);
