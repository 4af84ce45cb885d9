#pragma once
// The key holder's side: turning printed tokens back into their fields, as
// a stream of lines collected from a fleet ("LABEL TOKEN" or a bare token
// per line) or as command-line arguments, with one record out for every
// input in.

#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "common/io.h"
#include "common/owner.h"

struct DecodeOptions {
  bool json = false;
  std::int64_t now = 0;          // the decoder's clock, seconds since 1970
  std::int64_t maxAgeDays = -1;  // a token older than this is refused; -1: no limit
};

// Where a stream run reads and writes; read is the seam the tests use to
// make input fail.
struct DecodeIo {
  ReadFunction read = ::read;
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
