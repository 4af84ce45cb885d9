#pragma once
// The key holder's side: turning printed tokens back into their fields, one
// at a time or as a stream of lines collected from a fleet ("LABEL TOKEN" or
// a bare token per line), with one record out for every line in.

#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/owner.h"
#include "token/token.h"
#include "token/token_text.h"  // formatUuid, shared with orlim-inspect

enum class DecodeStatus {
  kOk,
  kNotHex,       // a character other than a hex digit
  kWrongLength,  // not 58 hex digits
  kNotOurs,      // decrypts to no valid record: another key, or corrupted
};

inline constexpr std::size_t kTokenDigits = 2 * kTokenRecordSize;

struct DecodeResult {
  DecodeStatus status = DecodeStatus::kNotHex;
  TokenFields fields;
  std::string token;       // the 58 digits as given, white space trimmed, upper case
  std::size_t badAt = 0;   // kNotHex: 1-based position of the first bad character
  std::size_t digits = 0;  // kWrongLength: how many digits there were
};

// Accepts upper- or lower-case hex with white space around it. Prepares the
// key for this one call: for many tokens, see parseTokenLine and the stream.
DecodeResult decodeToken(std::string_view text);

// "not 58 hex digits (57)" and so on: what is wrong, for a message.
std::string describeFailure(const DecodeResult& result);

// One input line taken apart: a bare token, or a label (the first field) and
// the token after it. The views point into the line.
struct TokenLine {
  DecodeStatus status = DecodeStatus::kNotHex;
  std::string_view label;  // empty for a bare token
  std::string_view input;  // the token text as given, white space trimmed
  std::array<std::uint8_t, kTokenRecordSize> sealed{};  // the token's bytes (kNotOurs, kOk)
  TokenFields fields;                                    // kOk
  std::size_t badAt = 0;   // kNotHex: 1-based position in the line
  std::size_t digits = 0;  // kWrongLength
};

// Takes a line apart and opens its token with a cipher from makeTokenCipher.
// The line must not be blank.
TokenLine parseTokenLine(const CipherContext& cipher, std::string_view line);

// Lines (and arguments) longer than this are refused unread: a label, a
// token and white space fit in far less, and a line is never held whole.
inline constexpr std::size_t kMaxLineBytes = 1024;

struct DecodeOptions {
  bool json = false;
  std::int64_t now = 0;          // the decoder's clock, seconds since 1970
  std::int64_t maxAgeDays = -1;  // a token older than this is refused; -1: no limit
};

// Where a stream run reads and writes; read is the seam the tests use to
// make input fail.
struct DecodeIo {
  ssize_t (*read)(int fd, void* buffer, std::size_t size) = ::read;
  int in = STDIN_FILENO;
  int out = STDOUT_FILENO;
  int err = STDERR_FILENO;
};

// A run's state: the cipher, prepared once, and the output buffers.
struct Decoder;
void releaseDecoder(Decoder* decoder);
using DecoderOwner = UniqueOwner<Decoder, &releaseDecoder>;

// Null when memory is exhausted.
DecoderOwner makeDecoder(const DecodeOptions& options, const DecodeIo& io);

// Decodes one command-line argument (position counts from 1), printing its
// record, or its error record and message.
void decodeArgument(Decoder& decoder, std::string_view argument, int position);

// Decodes every non-blank line of io.in until its end. A read error is
// reported ("read error: ...") after the lines before it were decoded, and
// counts as a failure.
void decodeStream(Decoder& decoder);

// Writes out what is buffered and reports whether the whole run succeeded:
// 0 when every token decoded and all output was written, 1 otherwise (a
// write error is reported here).
int finishDecoder(Decoder& decoder);
