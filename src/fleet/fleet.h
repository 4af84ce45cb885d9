#pragma once
// orlim-fleet: a fleet's identities across collections of the records
// orlim-decode --json prints. Needs no token key.

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "common/io.h"

namespace fleet {

// Lines longer than this are not records: a decoder's longest is an error
// record of three strings of at most decoded::kMaxInputBytes each, every
// byte escaped, about 19 KB.
inline constexpr std::size_t kMaxRecordLineBytes = 0xFFFF;

// Lines that are not records are reported one by one up to this many per
// input; after it one line says how many more there were, so that a flood
// of garbage costs neither memory nor a screenful per line.
inline constexpr std::size_t kMaxBadLineMessages = 100;

struct FleetOptions {
  bool json = false;
  bool wide = false;  // the text as one wide row per label
};

// An input: its name as given ("-" is standard input) and an open descriptor.
struct FleetSource {
  std::string_view name;
  int fd = -1;
};

// Where a run writes; read is the seam the tests use to make input fail.
struct FleetIo {
  ReadFunction read = ::read;
  int out = STDOUT_FILENO;
  int err = STDERR_FILENO;
};

struct Collection;
struct Comparison;
struct Previous;
struct WarningNames;

// A registry's part in a run: load fills the previous collections before
// NOW is read; keep stores NOW once compared, before a verdict is printed
// (lines[i] is the line NOW's record i was read from, as given). Each
// returns 0, or the run's exit status with what to say on err (whole
// lines) appended to message; then nothing is printed.
struct FleetKeeper {
  int (*load)(void* context, Previous& previous, WarningNames& names, std::string& message);
  int (*keep)(void* context, const Collection& now, std::span<const std::string_view> lines,
              const Comparison& comparison, std::string& message);
  void* context = nullptr;
};

// Reads the previous collections (oldest first, none at all allowed) and
// NOW, compares NOW with each label's last known record and prints the
// verdicts. Lines that are not records are reported on err by file and
// line, and the rest is compared. NOW without a record while the previous
// collections have some is said on err and not compared. Returns the exit
// status: 0 when every label is same, new, gone or uuid-byte-order without
// a warning, 1 when anything needs a look, a line was not a record, NOW
// had no record, input could not be read or output not written.
// With a keeper, NOW that could not be read whole is not kept, and the
// keeper's status is the run's when it fails.
int runFleet(const FleetOptions& options, const FleetSource& now,
             std::span<const FleetSource> previous, const FleetIo& io,
             const FleetKeeper* keeper = nullptr);

}  // namespace fleet
