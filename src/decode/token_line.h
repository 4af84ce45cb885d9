#pragma once
// One input taken apart: a bare token, or a label and the token after it,
// and the token opened with the token key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cipher/cipher_context.h"
#include "common/line_reader.h"
#include "decode/message.h"
#include "token/token.h"

enum class DecodeStatus {
  kOk,
  kNotHex,       // a character other than a hex digit
  kWrongLength,  // not 58 hex digits
  kNotOurs,      // decrypts to no valid record: another key, or corrupted
  kTwoTokens,    // two fields of 58 hex digits: a token is never a label
  // The collector's word for a host that gave no token, in place of one:
  // "HOST !unreachable REASON" and "HOST !no-token REASON".
  kUnreachable,
  kNoToken,
};

// The words that stand in for a token on such a line.
inline constexpr std::string_view kUnreachableWord = "!unreachable";
inline constexpr std::string_view kNoTokenWord = "!no-token";

inline constexpr std::size_t kTokenDigits = 2 * kTokenRecordSize;

// The views point into the line.
struct TokenLine {
  DecodeStatus status = DecodeStatus::kNotHex;
  std::string_view label;  // empty for a bare token
  std::string_view input;  // the token text as given, white space trimmed
  std::array<std::uint8_t, kTokenRecordSize> sealed{};  // the token's bytes (kNotOurs, kOk)
  TokenFields fields;                                   // kOk
  std::size_t badAt = 0;                                // kNotHex: 1-based position in the line
  std::size_t digits = 0;                               // kWrongLength
  std::string_view reason;  // kUnreachable, kNoToken: the rest of the line, trimmed; may be empty
};

// Takes a line apart and opens its token with a cipher from makeTokenCipher.
// The line must not be blank.
TokenLine parseTokenLine(const CipherContext& cipher, std::string_view line);

// Opens the token text at [begin, end) of line, which holds no white space
// at either end; positions in messages count from the start of the line.
void openToken(const CipherContext& cipher, std::string_view line, std::size_t begin,
               std::size_t end, TokenLine& out);

// "not 58 hex digits (57)" and so on: what is wrong, for a message.
Message describeStatus(const TokenLine& line);

// How a stream of lines was saved, from its first bytes: plain bytes (ASCII
// or UTF-8), UTF-8 behind a byte-order mark (a list saved on Windows), or
// UTF-16 (PowerShell's ">"), with or without its mark. kEncodingMarkBytes
// bytes are enough to tell, fewer when the input is shorter.
enum class InputEncoding { kPlain, kUtf8WithMark, kUtf16LittleEndian, kUtf16BigEndian };
inline constexpr std::size_t kEncodingMarkBytes = 3;
InputEncoding inputEncoding(std::string_view start);

