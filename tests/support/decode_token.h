#pragma once
// A one-token decode for tests that have a single token in hand, made of
// the decoder's own pieces; orlim-decode itself decodes streams only.

#include <cstddef>
#include <string>
#include <string_view>

#include "decode/record.h"
#include "decode/token_line.h"
#include "decode/warnings.h"
#include "token/token.h"

struct DecodeResult {
  DecodeStatus status = DecodeStatus::kNotHex;
  TokenFields fields;
  std::string token;       // the 58 digits as given, white space trimmed, upper case
  std::size_t badAt = 0;   // kNotHex: 1-based position of the first bad character
  std::size_t digits = 0;  // kWrongLength: how many digits there were
};

// Accepts upper- or lower-case hex with white space around it. Prepares the
// key for this one call.
DecodeResult decodeToken(std::string_view text);

// "not 58 hex digits (57)" and so on: what is wrong, for a message.
std::string describeFailure(const DecodeResult& result);
