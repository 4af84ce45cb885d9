// A decoding run: inputs in, records and messages out, in large blocks.
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <new>

#include "decode/decode.h"
#include "decode/record.h"
#include "decode/token_line.h"
#include "decode/warnings.h"

namespace {

// Input is read, and output written, in blocks of this size: a million
// tokens then cost a few thousand system calls rather than a million.
constexpr std::size_t kReadBlock = 64 * 1024;
constexpr std::size_t kWriteBlock = 64 * 1024;

}  // namespace

struct Decoder {
  DecodeOptions options;
  DecodeIo io;
  CipherContextOwner cipher;
  bool failed = false;
  bool firstRecord = true;
  int writeError = 0;  // -errno of the first failed write of records
  std::size_t lineNumber = 0;
  std::size_t outUsed = 0;
  std::array<char, kWriteBlock + kMaxRecordBytes> out;
  // Messages for standard error wait in their own buffer and go out with
  // the records; when both streams are the same file (a terminal, 2>&1) they
  // go into the records' buffer instead, so that they read in order.
  bool messagesWithRecords = false;
  std::size_t errUsed = 0;
  std::array<char, kWriteBlock + kMaxRecordBytes> err;
  std::array<char, lineBufferSize(kReadBlock, kMaxInputBytes)> in;
  // The start of a line too long to keep, for its error record.
  std::array<char, kMaxInputBytes> longStart;
};

void releaseDecoder(Decoder* decoder) { delete decoder; }

namespace {

void flushOutput(Decoder& d) {
  if (d.outUsed != 0 && d.writeError == 0)
    d.writeError = writeAll(d.io.out, std::span<const char>(d.out.data(), d.outUsed));
  d.outUsed = 0;
  // Messages are best effort: with standard error gone there is no one to tell.
  if (d.errUsed != 0) (void)writeAll(d.io.err, std::span<const char>(d.err.data(), d.errUsed));
  d.errUsed = 0;
}

// Room for one more record, flushing first when the block is full.
char* recordStart(Decoder& d) {
  if (d.outUsed >= kWriteBlock) flushOutput(d);
  return d.out.data() + d.outUsed;
}

void recordEnd(Decoder& d, char* end) { d.outUsed = static_cast<std::size_t>(end - d.out.data()); }

// The message for standard error, after the records before it.
void reportFailure(Decoder& d, const InputOrigin& origin, std::string_view label,
                   const Failure& failure) {
  d.failed = true;
  if (d.messagesWithRecords) {
    recordEnd(d, putFailureMessage(recordStart(d), origin, label, failure));
    return;
  }
  if (d.errUsed >= kWriteBlock) flushOutput(d);
  char* end = putFailureMessage(d.err.data() + d.errUsed, origin, label, failure);
  d.errUsed = static_cast<std::size_t>(end - d.err.data());
}

// One record for an input that gave no token: its JSON error record in
// place (text output shows the message only), and the message.
void failRecord(Decoder& d, const InputOrigin& origin, std::string_view label, std::string_view input,
                const Failure& failure) {
  if (d.options.json) recordEnd(d, putErrorRecord(recordStart(d), origin, label, input, failure));
  reportFailure(d, origin, label, failure);
}

void failRecord(Decoder& d, const InputOrigin& origin, std::string_view label, std::string_view input,
                std::string_view message) {
  failRecord(d, origin, label, input, Failure{decoded::ErrorKind::kInvalid, message, {}});
}

void decodeOneLine(Decoder& d, std::string_view text, const InputOrigin& origin) {
  TokenLine line = parseTokenLine(*d.cipher, text);
  if (line.status != DecodeStatus::kOk) {
    const decoded::ErrorKind kind = line.status == DecodeStatus::kUnreachable ? decoded::ErrorKind::kUnreachable
                                    : line.status == DecodeStatus::kNoToken   ? decoded::ErrorKind::kNoToken
                                                                              : decoded::ErrorKind::kInvalid;
    failRecord(d, origin, line.label, line.input,
               Failure{kind, describeStatus(line).view(), line.reason});
    return;
  }
  // A token older than --max-age allows is refused: a licence server does
  // not take stale tokens. Ages are whole days counted down.
  if (tokenTooOld(line.fields.time, d.options.now, d.options.maxAgeDays)) {
    std::array<char, report::kUtcTextSize> when;
    report::writeUtc(when.data(), line.fields.time);
    failRecord(d, origin, line.label, line.input,
               makeMessage("older than %lld days (made %.20s)",
                           static_cast<long long>(d.options.maxAgeDays), when.data())
                   .view());
    return;
  }
  const unsigned warnings = identityWarnings(line.fields, d.options.now);
  recordEnd(d, putTokenRecord(recordStart(d), d.options.json, d.firstRecord, origin, line,
                              warnings));
  d.firstRecord = false;
}

Message longLineMessage() { return makeMessage("longer than %zu bytes", kMaxInputBytes); }

// A message that can't wait for the buffers: after everything before it.
void reportNow(Decoder& d, const char* what, int error) {
  flushOutput(d);
  const std::string text =
      std::string("orlim-decode: ") + what + ": " + std::strerror(-error) + "\n";
  (void)writeAll(d.io.err, text);
}

}  // namespace

DecoderOwner makeDecoder(const DecodeOptions& options, const DecodeIo& io) {
  DecoderOwner decoder(new (std::nothrow) Decoder);
  if (decoder == nullptr) return nullptr;
  decoder->options = options;
  decoder->io = io;
  struct stat out {};
  struct stat err {};
  decoder->messagesWithRecords = fstat(io.out, &out) == 0 && fstat(io.err, &err) == 0 &&
                                 out.st_dev == err.st_dev && out.st_ino == err.st_ino;
  decoder->cipher = makeTokenCipher();
  if (decoder->cipher == nullptr) return nullptr;
  return decoder;
}

void decodeArgument(Decoder& d, std::string_view argument, int position) {
  const InputOrigin origin{"argument", static_cast<std::size_t>(position)};
  if (argument.size() > kMaxInputBytes) {
    failRecord(d, origin, {}, argument.substr(0, kMaxInputBytes), longLineMessage().view());
    return;
  }
  decodeOneLine(d, argument, origin);
}

void decodeStream(Decoder& d) {
  LineReader lines{d.io.in, d.io.read, kMaxInputBytes, d.in, d.longStart};
  lines.number = d.lineNumber;  // "-" twice: one count over both
  const auto readFailed = [&](ssize_t n) {
    d.failed = true;
    reportNow(d, "read error", static_cast<int>(n));
  };
  // The first bytes show how the list was saved: enough of them to tell,
  // and no more than the first line, so that a person typing sees each
  // record at once.
  for (;;) {
    const std::string_view first = unreadBytes(lines);
    if (lines.ended || first.size() >= kEncodingMarkBytes || first.find('\n') != first.npos) break;
    if (const ssize_t n = fillLines(lines); n < 0) return readFailed(n);
  }
  const InputEncoding encoding = inputEncoding(unreadBytes(lines));
  if (encoding == InputEncoding::kUtf16LittleEndian || encoding == InputEncoding::kUtf16BigEndian) {
    // Read as bytes, every line would be an error: one record says why.
    ++d.lineNumber;
    failRecord(d, InputOrigin{"line", d.lineNumber}, {}, {},
               makeMessage("the input is UTF-16 (%s) text, not UTF-8: convert it first, "
                           "e.g. with iconv -f UTF-16 -t UTF-8",
                           encoding == InputEncoding::kUtf16LittleEndian ? "little-endian"
                                                                         : "big-endian")
                   .view());
    return;
  }
  for (;;) {
    Line line;
    switch (nextLine(lines, line)) {
      case LineStatus::kLine:
        d.lineNumber = line.number;
        decodeOneLine(d, line.text, InputOrigin{"line", line.number});
        break;
      case LineStatus::kTooLong:
        d.lineNumber = line.number;
        failRecord(d, InputOrigin{"line", line.number}, {}, line.text, longLineMessage().view());
        break;
      case LineStatus::kNeedInput:
        // Output waits for no more input than it answers: an interactive
        // user sees each record before typing the next line.
        flushOutput(d);
        if (d.writeError != 0) return;
        if (const ssize_t n = fillLines(lines); n < 0) return readFailed(n);
        break;
      case LineStatus::kEnd:
        d.lineNumber = lines.number;
        return;
    }
    if (d.writeError != 0) return;
  }
}

int finishDecoder(Decoder& d) {
  flushOutput(d);
  if (d.writeError != 0) {
    reportNow(d, "write error", d.writeError);
    return 1;
  }
  return d.failed ? 1 : 0;
}
