// orlim-decode's line parsing: a line taken apart into label and token, the
// token opened with the key prepared once. The property is the round trip:
// whatever opens as a valid record seals back, under the same key, into the
// very token the line gave. The same bytes then go through a whole stream
// run (long lines, labels escaped into records, both output forms) to a
// null device.

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "decode/decode.h"
#include "decode/decode_internal.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "decode_line: %s\n", what);
  std::abort();
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isWhite(char c) {
  static constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> table{};
    for (char s : {' ', '\t', '\n', '\r', '\v', '\f'}) table[static_cast<unsigned char>(s)] = true;
    return table;
  }();
  return kSpace[static_cast<unsigned char>(c)];
}

// The stream's input: the fuzz input once, then its end.
std::string_view streamInput;
ssize_t readInput(int, void* buffer, std::size_t size) {
  const std::size_t n = std::min(size, streamInput.size());
  if (n == 0) return 0;
  std::memcpy(buffer, streamInput.data(), n);
  streamInput.remove_prefix(n);
  return static_cast<ssize_t>(n);
}

struct Shared {
  CipherContextOwner opener = makeTokenCipher();
  CipherContextOwner sealer = makeTokenCipher();
  DecoderOwner decoders[2];
  Shared() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (opener == nullptr || sealer == nullptr || null < 0) fail("setup");
    DecodeIo io;
    io.read = readInput;
    io.out = null;
    io.err = null;
    for (int json = 0; json < 2; ++json) {
      DecodeOptions options;
      options.json = json != 0;
      options.now = 1796904000;
      options.maxAgeDays = json != 0 ? 365 : -1;
      decoders[json] = makeDecoder(options, io);
      if (decoders[json] == nullptr) fail("decoder");
    }
  }
};

void checkLine(const Shared& shared, std::string_view line) {
  const TokenLine parsed = parseTokenLine(*shared.opener, line);
  // The views lie inside the line, with no white space at their ends.
  const auto inside = [&](std::string_view part) {
    return part.empty() || (part.data() >= line.data() &&
                            part.data() + part.size() <= line.data() + line.size());
  };
  if (!inside(parsed.label) || !inside(parsed.input)) fail("view outside the line");
  for (char c : parsed.label)
    if (isWhite(c)) fail("white space in a label");
  if (!parsed.input.empty() && (isWhite(parsed.input.front()) || isWhite(parsed.input.back())))
    fail("input not trimmed");

  switch (parsed.status) {
    case DecodeStatus::kNotHex:
      if (parsed.badAt == 0 || parsed.badAt > line.size() || isHex(line[parsed.badAt - 1]))
        fail("bad character position");
      return;
    case DecodeStatus::kWrongLength:
      if (parsed.digits == kTokenDigits || parsed.digits != parsed.input.size())
        fail("wrong length reported");
      for (char c : parsed.input)
        if (!isHex(c)) fail("wrong length with a non-digit");
      return;
    case DecodeStatus::kTwoTokens: {
      // Never a label: both tokens stay in the input, white space between.
      if (!parsed.label.empty()) fail("two tokens with a label");
      const std::string_view in = parsed.input;
      if (in.size() <= 2 * kTokenDigits || !isWhite(in[kTokenDigits]) ||
          !isWhite(in[in.size() - kTokenDigits - 1]))
        fail("two tokens not at both ends");
      for (std::size_t i = 0; i < kTokenDigits; ++i)
        if (!isHex(in[i]) || !isHex(in[in.size() - kTokenDigits + i])) fail("two tokens not hex");
      return;
    }
    case DecodeStatus::kUnreachable:
    case DecodeStatus::kNoToken:
      // A host's word in place of a token: always after a label, the
      // reason a view of the input's end.
      if (parsed.label.empty() || !parsed.input.starts_with('!') || !inside(parsed.reason) ||
          (!parsed.reason.empty() && parsed.reason.data() + parsed.reason.size() !=
                                         parsed.input.data() + parsed.input.size()))
        fail("a host's word misread");
      return;
    case DecodeStatus::kNotOurs:
    case DecodeStatus::kOk:
      break;
  }
  if (parsed.input.size() != kTokenDigits) fail("opened a token of another length");
  for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
    const auto value = static_cast<unsigned>(std::strtoul(
        std::string(parsed.input.substr(2 * i, 2)).c_str(), nullptr, 16));
    if (value != parsed.sealed[i]) fail("token bytes differ from its digits");
  }
  if (parsed.status != DecodeStatus::kOk) return;

  // The round trip.
  if (parsed.fields.version != kTokenRecordVersion) fail("accepted another version");
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, parsed.fields);
  std::array<std::uint8_t, kTokenCipherRoom> resealed{};
  cipherContextEncrypt(record.data(), resealed.data(), kTokenRecordSize, shared.sealer.get());
  if (std::memcmp(resealed.data(), parsed.sealed.data(), kTokenRecordSize) != 0)
    fail("the decoded fields do not seal back into the token");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Shared shared;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Each line as the stream would see it.
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    bool blank = true;
    for (char c : line) blank = blank && isWhite(c);
    if (!blank && line.size() <= kMaxInputBytes) checkLine(shared, line);
    start = end + 1;
  }

  Decoder& decoder = *shared.decoders[size != 0 ? data[0] & 1 : 0];
  streamInput = input;
  decodeStream(decoder);
  return 0;
}
