// The SMBIOS reader's source chain: which source is asked when, and what
// each failure leaves to the next.

#include "probes/smbios.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "common/owner.h"
#include "probes/smbios_internal.h"

namespace smbios {
namespace {

// --- Recording, for a watched run only ---------------------------------------

// A new attempt in observation, or null when nobody watches (or the record
// is full, which is counted).
UuidAttempt* beginAttempt(UuidObservation* observation, UuidSource source, const char* path) {
  if (observation == nullptr) return nullptr;
  if (observation->count == observation->attempts.size()) {
    ++observation->dropped;
    return nullptr;
  }
  UuidAttempt& attempt = observation->attempts[observation->count++];
  attempt = UuidAttempt{};
  attempt.source = source;
  attempt.path = path;
  return &attempt;
}

// A watched run clears errno before a file or device access, so that what
// is left afterwards belongs to that access.
void clearErrorIfWatched(const void* watcher) {
  if (watcher != nullptr) errno = 0;
}

// The access before this failed; says how, from errno.
void recordAccessFailure(UuidAttempt* attempt, AttemptOutcome otherwise) {
  if (attempt == nullptr) return;
  attempt->error = errno;
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      attempt->outcome = AttemptOutcome::kMissing;
      break;
    case EACCES:
    case EPERM:
      attempt->outcome = AttemptOutcome::kPermissionDenied;
      break;
    default:
      attempt->outcome = otherwise;
      break;
  }
}

void record(UuidAttempt* attempt, AttemptOutcome outcome) {
  if (attempt != nullptr) attempt->outcome = outcome;
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

}  // namespace

int readStructureTable(const TableLocation& location, const char* path, UuidSpan uuid,
                       UuidAttempt* attempt) {
  if (attempt != nullptr) {
    attempt->located = true;
    attempt->location = location;
  }
  ByteBuffer table;
  std::size_t size = location.length;
  clearErrorIfWatched(attempt);
  if ((location.flags & kTableInFile) != 0) {
    table = loadFileBytes(path, size);
  } else {
    // Physical addresses are file offsets of the memory device; one past the
    // signed range can't be read there.
    if (location.address > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      record(attempt, AttemptOutcome::kAddressOutOfRange);
      return -1;
    }
    table = loadPhysicalRange(static_cast<std::int64_t>(location.address), size, path);
  }
  if (!table) {
    recordAccessFailure(attempt, AttemptOutcome::kTableUnreadable);
    return -1;
  }
  WalkObservation* walk = nullptr;
  if (attempt != nullptr) {
    attempt->walked = true;
    attempt->location.length = static_cast<std::uint32_t>(size);  // what the file really held
    walk = &attempt->walk;
  }
  const int result = walkStructureTable(ByteView(table.get(), size), location.count,
                                        location.version, location.flags, uuid, walk);
  if (walk != nullptr) attempt->outcome = walkOutcome(walk->end);
  return result;
}

int decodeSysfsEntryPoint(ByteView entryPoint, const char* tablePath, UuidSpan uuid,
                          UuidAttempt* attempt) {
  TableLocation location;
  if (locateSysfsTable(entryPoint, location) != 0) {
    record(attempt, entryPointRejection(entryPoint, true));
    return -1;
  }
  if (attempt != nullptr) attempt->path = tablePath;
  return readStructureTable(location, tablePath, uuid, attempt);
}

int readViaSystab(std::FILE* stream, const char* memoryPath, UuidSpan uuid, UuidAttempt* attempt) {
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
    record(attempt, AttemptOutcome::kAddressOutOfRange);
    return -2;
  }
  clearErrorIfWatched(attempt);
  ByteBuffer bytes =
      loadPhysicalRange(static_cast<std::int64_t>(address), kEntryPointBufferSize, memoryPath);
  if (!bytes) {
    recordAccessFailure(attempt, AttemptOutcome::kUnreadable);
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
  clearErrorIfWatched(observation);
  ByteBuffer window = loadPhysicalRange(kScanWindowAddress, kScanWindowSize, memoryPath);
  if (!window) {
    recordAccessFailure(beginAttempt(observation, UuidSource::kMemoryScan, memoryPath),
                        AttemptOutcome::kUnreadable);
    return -2;
  }
  bool anyEntryPoint = false;
  const int result = scanWindowBytes(
      ByteView(window.get(), kScanWindowSize),
      [&](const TableLocation& location, std::size_t offset) {
        UuidAttempt* attempt = beginAttempt(observation, UuidSource::kMemoryScan, memoryPath);
        if (attempt != nullptr) {
          anyEntryPoint = true;
          attempt->hasAddress = true;
          attempt->address = static_cast<std::uint64_t>(kScanWindowAddress) + offset;
        }
        return readStructureTable(location, memoryPath, uuid, attempt);
      });
  if (result != 0 && observation != nullptr && !anyEntryPoint)
    record(beginAttempt(observation, UuidSource::kMemoryScan, memoryPath),
           AttemptOutcome::kNoEntryPoint);
  return result;
}

int readProductUuid(const char* path, UuidSpan uuid, UuidAttempt* attempt) {
  std::size_t textSize = kProductUuidTextSize;
  clearErrorIfWatched(attempt);
  ByteBuffer text = loadFileBytes(path, textSize);
  if (!text) {
    recordAccessFailure(attempt, AttemptOutcome::kUnreadable);
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

int readSystemUUID(UuidSpan uuid, const SmbiosPaths& paths, UuidObservation* observation) {
  std::fill(uuid.begin(), uuid.end(), std::uint8_t{0});
  const auto finish = [observation](int result) {
    if (observation != nullptr) observation->result = result;
    return result;
  };

  // 1. The kernel's copy of the entry point and table. Whatever goes wrong
  //    here, the next source decides the result code.
  UuidAttempt* sysfs = beginAttempt(observation, UuidSource::kSysfs, paths.entryPoint);
  std::size_t entryPointSize = kEntryPointBufferSize;
  clearErrorIfWatched(sysfs);
  if (ByteBuffer entryPoint = loadFileBytes(paths.entryPoint, entryPointSize)) {
    if (decodeSysfsEntryPoint(ByteView(entryPoint.get(), entryPointSize), paths.table, uuid,
                              sysfs) == 0)
      return finish(0);
  } else {
    recordAccessFailure(sysfs, AttemptOutcome::kUnreadable);
  }

  // 2. The EFI system table; if one opens, the memory scan is never tried.
  int result = 0;
  clearErrorIfWatched(observation);
  UniqueFile systab(std::fopen(paths.efiSystab, "re"));
  const char* systabPath = paths.efiSystab;
  if (!systab) {
    // Of two failed opens, the first one's reason says more, unless it is
    // only that the file is missing.
    const int firstError = errno;
    systab.reset(std::fopen(paths.procSystab, "re"));
    if (systab)
      systabPath = paths.procSystab;
    else if (observation != nullptr && firstError != ENOENT)
      errno = firstError;
  }
  UuidAttempt* efi = beginAttempt(observation, UuidSource::kEfi, systabPath);
  if (systab) {
    result = readViaSystab(systab.get(), paths.memory, uuid, efi);
    systab.reset();
    if (observation != nullptr)
      beginAttempt(observation, UuidSource::kMemoryScan, paths.memory);  // kNotTried
  } else {
    recordAccessFailure(efi, AttemptOutcome::kUnreadable);
    // 3. The legacy BIOS window.
    result = scanMemoryWindow(paths.memory, uuid, observation);
  }
  if (result == 0) return finish(0);

  // 4. The kernel's text, which hides every earlier failure.
  UuidAttempt* product = beginAttempt(observation, UuidSource::kProductUuid, paths.productUuid);
  if (readProductUuid(paths.productUuid, uuid, product) != 0) return finish(result);
  return finish(0);
}

}  // namespace smbios

int readSystemUUID(std::span<std::uint8_t, 16> uuid) {
  return smbios::readSystemUUID(uuid, smbios::SmbiosPaths{});
}
