#pragma once
// The record orlim-decode prints for every input and orlim-fleet reads back:
// its keys, their order and the sizes of its fixed-width values, for both
// kinds of record. The decoder's writer walks these lists and the fleet's
// reader matches against them, so the two sides can't drift. Needs no
// cipher: orlim-fleet reads records without the token key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace decoded {

// Every key either record may carry. The JSON name, and for the text form
// the name padded so that the values line up ("" where the text form does
// not show the key).
enum class Key : std::uint8_t {
  kLabel,
  kToken,
  kVersion,
  kTime,
  kTimeUtc,
  kUuid,
  kLegacy,
  kMachine,
  kWarnings,
  kKind,
  kInput,
  kError,
  kLine,
  kArgument,
};
inline constexpr std::size_t kKeyCount = 14;

struct KeyName {
  std::string_view json;
  std::string_view text;
};

inline constexpr std::array<KeyName, kKeyCount> kKeyNames = {{
    {"label", "label:   "},
    {"token", "token:   "},
    {"version", "version: "},
    {"time", "time:    "},
    {"time_utc", ""},  // the text shows one time line, the date with the number after it
    {"uuid", "uuid:    "},
    {"legacy", "legacy:  "},
    {"machine", "machine: "},
    {"warnings", "warning: "},
    {"kind", ""},  // error records are JSON only
    {"input", ""},
    {"error", ""},
    {"line", ""},  // where the input came from: JSON only
    {"argument", ""},
}};

constexpr const KeyName& keyName(Key key) { return kKeyNames[static_cast<std::size_t>(key)]; }

// A token record, in the order written: the label only when the input had
// one, and last the origin, "line" or "argument" (so that a consumer never
// counts lines, and the keys before it read as they always did).
inline constexpr std::array<Key, 9> kTokenKeys = {
    Key::kLabel, Key::kToken,  Key::kVersion, Key::kTime,     Key::kTimeUtc,
    Key::kUuid,  Key::kLegacy, Key::kMachine, Key::kWarnings,
};

// An error record, in the order written, the label only when there was one,
// then the origin.
inline constexpr std::array<Key, 4> kErrorKeys = {Key::kLabel, Key::kKind, Key::kInput, Key::kError};

// An input (a line or an argument) longer than this is refused unread: a
// label, a token and white space fit in far less, and a line is never held
// whole. It bounds every string of a record too.
inline constexpr std::size_t kMaxInputBytes = 1024;

// Sizes of the fixed-width values.
inline constexpr std::size_t kTokenDigits = 58;      // "token": the sealed record in hex
inline constexpr std::size_t kUuidTextSize = 36;     // "uuid": 8-4-4-4-12 lower-case hex digits
inline constexpr std::size_t kLegacyChars = 8;       // "legacy": upper-case hex digits
inline constexpr std::size_t kMachineTextSize = kUuidTextSize + 1 + kLegacyChars;  // "uuid/legacy"
inline constexpr std::size_t kTimeUtcSize = 20;      // "time_utc": 2026-01-02T03:04:05Z
// "version": the token record's version this pair writes and reads.
inline constexpr std::uint64_t kRecordVersion = 1;

// Why an input gave no token: not a token at all, or a host that gave none
// (the collector's "HOST !unreachable REASON" and "HOST !no-token REASON"
// lines). A record without "kind" (an older decoder's) is kInvalid.
enum class ErrorKind : std::uint8_t { kInvalid, kUnreachable, kNoToken };
inline constexpr std::size_t kErrorKindCount = 3;
inline constexpr std::array<std::string_view, kErrorKindCount> kErrorKindNames = {
    "invalid", "unreachable", "no-token"};

constexpr std::string_view errorKindName(ErrorKind kind) {
  return kErrorKindNames[static_cast<std::size_t>(kind)];
}

// Every warning the two tools give, by name: orlim-fleet's own about a
// label among the others first (shared-machine: another label has the same
// machine; shared-uuid: another has the UUID with other network
// characters; duplicate-label: the label is listed more than once with
// different machines), then the decoder's about one record, in the order
// of its flags (decode/warnings.h).
inline constexpr std::array<std::string_view, 6> kWarningNames = {
    "shared-machine",   "shared-uuid",    "duplicate-label",
    "placeholder-uuid", "time-in-future", "time-before-2005"};
inline constexpr std::size_t kFirstDecoderWarning = 3;

}  // namespace decoded
