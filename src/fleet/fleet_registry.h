#pragma once
// The registry of collections: one SQLite file that keeps every collection
// a key holder recorded, each record as orlim-decode wrote it, with its
// label's verdict and move links, and for every label its last known
// record and last known identity, so that a new collection is compared
// with what was known of each label, however long ago.
//
// A collection goes in whole or not at all (one transaction, begun by
// taking the write lock, so two recorders never read the same "before");
// the file is in WAL mode, so readers go on while one records and a
// process killed at any moment leaves every earlier collection intact.
// Results are int: 0, or kRegistryFailed with the reason in the error.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/owner.h"
#include "fleet/fleet_compare.h"

struct sqlite3;

namespace fleet {

// The schema this build writes; user_version holds it. Older registries
// are brought up to it in place, newer ones refused.
inline constexpr int kRegistrySchema = 2;
// How long a recorder waits for another to finish before it gives up.
inline constexpr int kRegistryWaitMs = 10000;

inline constexpr int kRegistryFailed = 1;

// Why a call failed, said in one line fit for a terminal (names escaped).
struct RegistryError {
  std::string message;
};

void closeRegistryDb(sqlite3* db);
using RegistryDb = UniqueOwner<sqlite3, &closeRegistryDb>;

struct Registry {
  RegistryDb db;
  std::string path;  // as given, for messages
};

// Opens the registry at path. forRecord creates it when absent (or empty)
// and wants it writable; otherwise it must exist. An older schema is
// migrated in place (which needs it writable); a newer one, a file that is
// not SQLite or an SQLite file of another program is refused.
int openRegistry(const char* path, bool forRecord, Registry& registry, RegistryError& error);

// --- reading ---------------------------------------------------------------

struct CollectionSummary {
  std::int64_t id = 0;
  std::string name;
  std::int64_t recorded = 0;  // seconds since 1970, UTC
  std::uint64_t records = 0;  // records kept (lines of its JSON Lines)
  std::array<std::uint64_t, kStatusCount> counts{};  // labels per verdict
};

// Every collection, oldest first.
int listCollections(Registry& registry, std::vector<CollectionSummary>& out, RegistryError& error);

// One record of a label in one collection (or, for a gone label, its
// verdict alone).
struct LabelEntry {
  std::int64_t collection = 0;
  std::string collectionName;
  std::int64_t recorded = 0;
  Status status = Status::kSame;
  std::string record;     // the decoder's JSON line; empty for a gone label
  std::string movedFrom;  // the label whose machine this one now shows
  std::string movedTo;    // the label that now shows this one's machine
};

// Every record of a label, oldest first; empty when the label is unknown.
int labelHistory(Registry& registry, std::string_view label, std::vector<LabelEntry>& out,
                 RegistryError& error);

// Calls line(context, record) for each record of the named collection (the
// latest when name is empty) in the order it was read, as orlim-decode
// wrote it. A record that no longer reads as one (a damaged file) stops the
// export with an error. A non-zero return from line stops it too and is
// returned.
using ExportLine = int (*)(void* context, std::string_view record);
int exportCollection(Registry& registry, std::string_view name, ExportLine line, void* context,
                     RegistryError& error);

// A record of a collection with its label's verdict there and its move
// links; record is empty for a gone label (the verdict alone).
struct CollectionEntry {
  Status status = Status::kSame;
  std::string_view record;
  std::string_view movedFrom;
  std::string_view movedTo;
};

// Calls entry(context, e) for each record of the named collection (the
// latest when name is empty) in the order it was kept.
// A stored record that no longer reads as one stops it with an error, as
// export does; a non-zero return from entry stops it too and is returned.
using CollectionEntryFn = int (*)(void* context, const CollectionEntry& entry);
int readCollection(Registry& registry, std::string_view name, CollectionEntryFn entry,
                   void* context, RegistryError& error);

// --- recording --------------------------------------------------------------

// A recording in progress: the write lock taken, the previous records
// read. Rolled back when dropped before commitRecording.
struct Recording {
  Registry* registry = nullptr;
  bool open = false;
  // The registry's label of each record of the previous records read.
  std::vector<std::int64_t> labelOf;
  ~Recording();
};

// Takes the write lock (waiting up to kRegistryWaitMs for another
// recorder) and reads each label's last known record and identity into
// previous (empty before), collection by collection, oldest first; their
// warnings are named in names.
int beginRecording(Registry& registry, Recording& recording, Previous& previous,
                   WarningNames& names, RegistryError& error);

// NOW as read: its records, each record's line as given, its comparison
// with the previous records.
struct RecordInput {
  std::string_view name;
  std::int64_t recorded = 0;
  const Collection& now;
  std::span<const std::string_view> lines;  // by index of now.records
  const Comparison& comparison;
};

// Stores the collection, its records with their verdicts and move links,
// the labels' last known records and the counts, and commits. A name
// already recorded is refused.
int commitRecording(Recording& recording, const RecordInput& input, RegistryError& error);

}  // namespace fleet
