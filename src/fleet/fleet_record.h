#pragma once
// One line of orlim-decode --json output read back: a token record (the
// fields that identify the machine, its time and the decoder's warnings) or
// an error record (the input that gave no token and why). Each line is
// validated whole as one JSON object (UTF-8 included) by simdjson before
// any value is looked at; keys it does not know are passed over, whatever
// their value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/decoded_record.h"

namespace fleet {

inline constexpr std::size_t kUuidBytes = 16;
using decoded::kLegacyChars;
using decoded::ErrorKind;
// The decoder's record version this reader knows.
inline constexpr std::int64_t kRecordVersion = static_cast<std::int64_t>(decoded::kRecordVersion);
// More warnings than this on one record is not a decoder's record.
inline constexpr std::size_t kMaxRecordWarnings = 16;

enum class RecordKind : std::uint8_t { kToken, kError };

using Uuid = std::array<std::uint8_t, kUuidBytes>;
using Legacy = std::array<char, kLegacyChars>;

// A record as read. The views point into the line, or into the scratch
// string given to parseRecord where a string held escapes.
struct ParsedRecord {
  RecordKind kind = RecordKind::kToken;
  bool hasLabel = false;
  std::string_view label;
  // kToken
  std::uint32_t time = 0;
  Uuid uuid{};
  Legacy legacy{};
  std::array<std::string_view, kMaxRecordWarnings> warnings{};
  std::size_t warningCount = 0;
  // kError
  ErrorKind errorKind = ErrorKind::kInvalid;  // kInvalid too where the record has no "kind"
  std::string_view input;
  std::string_view error;
};

// Why a line is not a record, and where: position counts bytes from 1; 0
// where the reader has no place for it (the JSON library gives none, so
// today always 0).
struct RecordError {
  std::size_t position = 0;
  std::array<char, 96> message{};  // zero-terminated
};

// Reads one line (without its line end). Returns true with out filled in,
// or false with error filled in. scratch holds unescaped strings; its
// capacity is kept from call to call.
bool parseRecord(std::string_view line, ParsedRecord& out, std::string& scratch,
                 RecordError& error);

}  // namespace fleet
