// The SMBIOS reader's source chain: which source is asked when, and what
// each failure leaves to the next.

#include "probes/smbios.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include "common/owner.h"
#include "probes/smbios_internal.h"

namespace probes {
namespace {

// --- Recording, for a watched run only ---------------------------------------

// A new attempt in observation, or null when nobody watches (or the record
// is full, which is counted). The memory scan, which may find thousands of
// entry points in a crafted window, leaves the last place to the product
// UUID text that comes after it.
UuidAttempt* beginAttempt(UuidObservation* observation, UuidSource source, const char* path) {
  if (observation == nullptr) return nullptr;
  const std::size_t room = observation->attempts.size() - (source == UuidSource::kMemoryScan);
  if (observation->count >= room) {
    ++observation->dropped;
    return nullptr;
  }
  UuidAttempt& attempt = observation->attempts[observation->count++];
  attempt = UuidAttempt{};
  attempt.source = source;
  attempt.path = path;
  return &attempt;
}

void record(UuidAttempt* attempt, AttemptOutcome outcome) {
  if (attempt != nullptr) attempt->outcome = outcome;
}

// What a failure's cause (a -errno from smbios_io.h or this reader) means
// for the attempt; readError is what any other failed read of these bytes
// is called. The system's own causes keep their errno for the report.
void recordFailure(UuidAttempt* attempt, int cause, AttemptOutcome readError) {
  if (attempt == nullptr) return;
  switch (cause) {
    case -ENOENT:
    case -ENOTDIR:
    case -ENXIO:
    case -ENODEV:
      attempt->outcome = AttemptOutcome::kMissing;
      attempt->error = -cause;
      return;
    case -EACCES:
    case -EPERM:
      attempt->outcome = AttemptOutcome::kPermissionDenied;
      attempt->error = -cause;
      return;
    case -EBADFD:
      attempt->outcome = AttemptOutcome::kNotAFileOrDevice;
      return;
    case -ENODATA:
      attempt->outcome = AttemptOutcome::kEmptyOrOutsideImage;
      return;
    case -ENOMEM:
      attempt->outcome = AttemptOutcome::kOutOfMemory;
      return;
    case kTableTooLarge:
      attempt->outcome = AttemptOutcome::kTableOverLimit;
      return;
    case kAddressTooHigh:
      attempt->outcome = AttemptOutcome::kAddressOutOfRange;
      return;
    case kTableAlreadyWalked:
      attempt->outcome = AttemptOutcome::kTableWalkedBefore;
      return;
    case kScanBytesSpent:
      attempt->outcome = AttemptOutcome::kScanLimitReached;
      return;
    default:
      attempt->outcome = readError;
      attempt->error = -cause;
      return;
  }
}

// Whether rejected entry point bytes had an anchor at all.
AttemptOutcome entryPointRejection(ByteView entryPoint, bool legacyAllowed) {
  if (startsWith(entryPoint, "_SM3_") || startsWith(entryPoint, "_SM_") ||
      (legacyAllowed && startsWith(entryPoint, "_DMI_")))
    return AttemptOutcome::kEntryPointInvalid;
  return legacyAllowed ? AttemptOutcome::kNoEntryPoint : AttemptOutcome::kNotSmbiosEntryPoint;
}

AttemptOutcome walkOutcome(WalkEnd end) {
  switch (end) {
    case WalkEnd::kUuidFound:
      return AttemptOutcome::kFound;
    case WalkEnd::kNoSystemInformation:
      return AttemptOutcome::kNoSystemInformation;
    case WalkEnd::kUuidAllZero:
      return AttemptOutcome::kUuidAllZero;
    case WalkEnd::kUuidAllFF:
      return AttemptOutcome::kUuidAllFF;
    case WalkEnd::kMalformed:
      return AttemptOutcome::kTableMalformed;
  }
  return AttemptOutcome::kTableMalformed;
}

bool sameWalk(const TableLocation& a, const TableLocation& b) {
  return a.address == b.address && a.length == b.length && a.count == b.count &&
         a.version == b.version && a.flags == b.flags;
}

}  // namespace

int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid,
                       UuidAttempt* attempt) {
  if (attempt != nullptr) {
    attempt->located = true;
    attempt->location = location;
  }
  if (location.length > kMaxTableLength) {
    recordFailure(attempt, kTableTooLarge, AttemptOutcome::kTableUnreadable);
    return kTableTooLarge;
  }
  ByteBuffer table;
  std::size_t size = location.length;
  int loaded = 0;
  if ((location.flags & kTableInFile) != 0) {
    loaded = loadFileBytes(path, size, table);
  } else {
    // Physical addresses are file offsets of the memory device; one past the
    // signed range can't be read there.
    if (location.address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      recordFailure(attempt, kAddressTooHigh, AttemptOutcome::kTableUnreadable);
      return kAddressTooHigh;
    }
    loaded = loadPhysicalRange(static_cast<std::int64_t>(location.address), size, path, table);
  }
  if (loaded != 0) {
    recordFailure(attempt, loaded, AttemptOutcome::kTableUnreadable);
    return loaded;
  }
  WalkObservation* walk = nullptr;
  if (attempt != nullptr) {
    attempt->walked = true;
    attempt->location.length = static_cast<std::uint32_t>(size);  // what the file really held
    walk = &attempt->walk;
  }
  const int walked = walkStructureTable(ByteView(table.get(), size), location.count,
                                        location.version, location.flags, uuid, walk);
  if (walk != nullptr) attempt->outcome = walkOutcome(walk->end);
  return walked == 0 ? 0 : kNoUsableUuid;
}

int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid,
                          UuidAttempt* attempt) {
  TableLocation location;
  if (locateSysfsTable(entryPoint, location) != 0) {
    record(attempt, entryPointRejection(entryPoint, true));
    return -1;
  }
  if (attempt != nullptr) attempt->path = tablePath;
  return readStructureTable(location, tablePath, uuid, attempt) == 0 ? 0 : -1;
}

int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid,
                  UuidAttempt* attempt) {
  std::uint64_t address = 0;
  if (findSystabEntryPoint(stream, address) != 0) {
    record(attempt, AttemptOutcome::kNoSmbiosLine);
    return -2;
  }
  if (attempt != nullptr) {
    attempt->hasAddress = true;
    attempt->address = address;
    attempt->path = memoryPath;
  }
  if (address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    recordFailure(attempt, kAddressTooHigh, AttemptOutcome::kUnreadable);
    return -2;
  }
  ByteBuffer bytes;
  const int loaded = loadPhysicalRange(static_cast<std::int64_t>(address), kEntryPointBufferSize,
                                       memoryPath, bytes);
  if (loaded != 0) {
    recordFailure(attempt, loaded, AttemptOutcome::kUnreadable);
    return -2;
  }
  const ByteView entryPoint(bytes.get(), kEntryPointBufferSize);
  TableLocation location;
  if (locateSystabTable(entryPoint, location) != 0) {
    record(attempt, entryPointRejection(entryPoint, false));
    return -1;
  }
  return readStructureTable(location, memoryPath, uuid, attempt) == 0 ? 0 : -1;
}

int scanMemoryWindow(const char* memoryPath, UuidSpan uuid, UuidObservation* observation) {
  ByteBuffer window;
  const int loaded = loadPhysicalRange(kScanWindowAddress, kScanWindowSize, memoryPath, window);
  if (loaded != 0) {
    recordFailure(beginAttempt(observation, UuidSource::kMemoryScan, memoryPath), loaded,
                  AttemptOutcome::kUnreadable);
    return -2;
  }
  // A window may hold an entry point in each of its 4096 slots, and each may
  // state up to kMaxTableLength. Real windows hold one to three anchors (an
  // _SM3_, an _SM_ and the _DMI_ inside it) whose tables are a few KiB each,
  // so neither rule below ever passes over a table on a real machine; they
  // keep a crafted window from multiplying the work: a walk already done is
  // not done again, and all tables read together stay within
  // kScanTableBytes.
  std::array<TableLocation, kScanRememberedTables> walked{};
  std::size_t walkedCount = 0;
  std::uint64_t bytesLeft = kScanTableBytes;
  bool anyEntryPoint = false;
  const int result = scanWindowBytes(
      ByteView(window.get(), kScanWindowSize),
      [&](const TableLocation& location, std::size_t offset) {
        UuidAttempt* attempt = beginAttempt(observation, UuidSource::kMemoryScan, memoryPath);
        if (attempt != nullptr) {
          anyEntryPoint = true;
          attempt->hasAddress = true;
          attempt->address = static_cast<std::uint64_t>(kScanWindowAddress) + offset;
          attempt->located = true;
          attempt->location = location;
        }
        int passedOver = 0;
        if (location.length > kMaxTableLength) passedOver = kTableTooLarge;
        for (std::size_t i = 0; passedOver == 0 && i < walkedCount; ++i)
          if (sameWalk(walked[i], location)) passedOver = kTableAlreadyWalked;
        if (passedOver == 0 && location.length > bytesLeft) passedOver = kScanBytesSpent;
        if (passedOver != 0) {
          recordFailure(attempt, passedOver, AttemptOutcome::kTableUnreadable);
          return passedOver;
        }
        bytesLeft -= location.length;
        if (walkedCount < walked.size()) walked[walkedCount++] = location;
        return readStructureTable(location, memoryPath, uuid, attempt);
      });
  if (result != 0 && observation != nullptr && !anyEntryPoint)
    record(beginAttempt(observation, UuidSource::kMemoryScan, memoryPath),
           AttemptOutcome::kNoEntryPoint);
  return result;
}

int readProductUuid(const char* path, UuidSpan uuid, UuidAttempt* attempt) {
  std::size_t textSize = kProductUuidTextSize;
  ByteBuffer text;
  const int loaded = loadFileBytes(path, textSize, text);
  if (loaded != 0) {
    recordFailure(attempt, loaded, AttemptOutcome::kUnreadable);
    return -1;
  }
  if (textSize != kProductUuidTextSize) {
    record(attempt, AttemptOutcome::kWrongTextLength);
    return -1;
  }
  parseProductUuidText(std::span<std::uint8_t, kProductUuidTextSize>(text.get(), textSize), uuid);
  record(attempt, AttemptOutcome::kFound);
  return 0;
}

int readSysfsSource(const SmbiosPaths& paths, UuidSpan uuid, UuidAttempt* attempt) {
  std::size_t entryPointSize = kEntryPointBufferSize;
  ByteBuffer entryPoint;
  const int loaded = loadFileBytes(paths.entryPoint, entryPointSize, entryPoint);
  if (loaded != 0) {
    recordFailure(attempt, loaded, AttemptOutcome::kUnreadable);
    return -1;
  }
  return decodeSysfsEntryPoint(ByteView(entryPoint.get(), entryPointSize), paths.table, uuid,
                               attempt);
}

int readEfiSource(const SmbiosPaths& paths, UuidSpan uuid, bool& opened, UuidAttempt* attempt) {
  int cause = 0;
  const char* path = paths.efiSystab;
  UniqueFile systab = openFirmwareStream(path, cause);
  if (!systab) {
    // Of two failed opens, the first one's cause says more, unless it is
    // only that the file is missing and the second failed otherwise (a
    // FIFO at the older path): then the second path and cause are the
    // ones to report.
    int procCause = 0;
    systab = openFirmwareStream(paths.procSystab, procCause);
    if (systab || (cause == -ENOENT && procCause != -ENOENT)) {
      path = paths.procSystab;
      cause = procCause;
    }
  }
  if (attempt != nullptr) attempt->path = path;
  opened = static_cast<bool>(systab);
  if (!systab) {
    recordFailure(attempt, cause, AttemptOutcome::kUnreadable);
    return -2;
  }
  return readViaSystab(systab.get(), paths.memory, uuid, attempt);
}

int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths, UuidObservation* observation) {
  std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});
  const auto finish = [observation](int result) {
    if (observation != nullptr) observation->result = result;
    return result;
  };

  // 1. The kernel's copy of the entry point and table. Whatever goes wrong
  //    here, the next source decides the result code.
  if (readSysfsSource(paths, uuid,
                      beginAttempt(observation, UuidSource::kSysfs, paths.entryPoint)) == 0)
    return finish(0);

  // 2. The EFI system table; if one opens, the memory scan is never tried.
  bool systabOpened = false;
  int result =
      readEfiSource(paths, uuid, systabOpened,
                    beginAttempt(observation, UuidSource::kEfi, paths.efiSystab));
  if (!systabOpened && kHasLegacyBiosArea) {
    // 3. The legacy BIOS window.
    result = scanMemoryWindow(paths.memory, uuid, observation);
  } else {
    // Not tried: a system table opened, or there is no window to search
    // (then nothing could be read, and result is already -2).
    beginAttempt(observation, UuidSource::kMemoryScan, paths.memory);
  }
  if (result == 0) return finish(0);

  // 4. The kernel's text, which hides every earlier failure.
  UuidAttempt* product = beginAttempt(observation, UuidSource::kProductUuid, paths.productUuid);
  if (readProductUuid(paths.productUuid, uuid, product) != 0) return finish(result);
  return finish(0);
}

int readSystemUUID(std::span<std::uint8_t, 16> uuid) { return readSystemUUID(uuid, SmbiosPaths{}); }

}  // namespace probes
