#pragma once
// The records a decoder prints, built in place in its output buffer: one
// JSON object per line, or a block of "name: value" lines for a person. Both
// forms come from one list of fields, so they can't drift apart.

#include <cstddef>
#include <string_view>

#include "common/decoded_record.h"
#include "decode/token_line.h"
#include "report/escape.h"

using decoded::kMaxInputBytes;

// The most any one call below writes: a JSON error record with a label, an
// input and a reason of a whole line each, every byte escaped, and the
// message.
inline constexpr std::size_t kMaxRecordBytes = 3 * kMaxInputBytes * report::kJsonEscapeGrowth + 512;

// Where an input came from: "line" and its number in the input, or
// "argument" and its position among the arguments that are not options.
// The kind is also the JSON key that carries the number.
struct InputOrigin {
  std::string_view kind;
  std::size_t number = 0;
};

// A decoded token's record. In text, records after the first are set apart
// by a blank line; JSON records end with the origin, so that a consumer
// never has to count lines (and the keys before it read as they always did).
char* putTokenRecord(char* p, bool json, bool first, const InputOrigin& origin,
                     const TokenLine& line, unsigned warnings);

// What went wrong with an input: the decoder's own words, and where a
// host said why it gave no token, its reason (untrusted, escaped where it
// is shown, after ": ").
struct Failure {
  decoded::ErrorKind kind = decoded::ErrorKind::kInvalid;
  std::string_view message;
  std::string_view reason;
};

// The JSON record of an input that gave no token (text output shows only
// the message).
char* putErrorRecord(char* p, const InputOrigin& origin, std::string_view label,
                     std::string_view input, const Failure& failure);

// The message for standard error: "orlim-decode: line 7 (web-01): ...".
char* putFailureMessage(char* p, const InputOrigin& origin, std::string_view label,
                        const Failure& failure);
