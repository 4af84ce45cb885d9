#include "fleet/fleet_registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "fleet/fleet.h"
#include "fleet/fleet_record.h"
#include "report/escape.h"

namespace fleet {

void closeRegistryDb(sqlite3* db) { sqlite3_close_v2(db); }

namespace {

using Statement = UniqueOwner<sqlite3_stmt, &sqlite3_finalize>;

// PRAGMA application_id of every registry ("orlm"): an SQLite file without
// it is another program's and is left alone.
constexpr std::int32_t kApplicationId = 0x6F726C6D;

// Names in messages are cut to this many bytes.
constexpr std::size_t kMaxQuoted = 200;

// Each schema version's step from the one before, applied in one
// transaction with the version it reaches; a new registry takes them all.
constexpr std::array<const char*, kRegistrySchema> kSchemaSteps = {
    // 1: collections; labels, each with its last known record and last
    // known identity (records ids); records, each a decoder's JSON line with
    // its label's verdict and move links (label ids) in its collection, or
    // for a gone label the verdict alone. A collection's records are the
    // ids [first_record, end_record).
    "CREATE TABLE collections(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
    " recorded INTEGER NOT NULL, records INTEGER NOT NULL,"
    " first_record INTEGER NOT NULL, end_record INTEGER NOT NULL);"
    "CREATE TABLE labels(id INTEGER PRIMARY KEY, key BLOB NOT NULL, labelled INTEGER NOT NULL,"
    " last INTEGER, identity INTEGER, UNIQUE(key, labelled));"
    "CREATE TABLE records(id INTEGER PRIMARY KEY, collection INTEGER NOT NULL, label INTEGER,"
    " verdict INTEGER NOT NULL, moved_from INTEGER, moved_to INTEGER, line INTEGER,"
    " record BLOB);"
    "CREATE INDEX records_by_label ON records(label);",
    // 2: labels per verdict of each collection, kept rather than counted
    // over every record at each look.
    "CREATE TABLE counts(collection INTEGER NOT NULL, verdict INTEGER NOT NULL,"
    " labels INTEGER NOT NULL, PRIMARY KEY(collection, verdict)) WITHOUT ROWID;"
    "INSERT INTO counts SELECT collection, verdict, COUNT(DISTINCT coalesce(label, -id))"
    " FROM records GROUP BY collection, verdict;",
};

void appendQuoted(std::string& out, std::string_view text) {
  report::appendTextEscaped(out, text.substr(0, kMaxQuoted));
  if (text.size() > kMaxQuoted) out += "...";
}

// "FILE: what"
int fail(const Registry& registry, RegistryError& error, std::string_view what) {
  error.message.clear();
  appendQuoted(error.message, registry.path);
  error.message += ": ";
  error.message += what;
  return kRegistryFailed;
}

// An SQLite result said in this tool's words, with what was not done.
int failSqlite(const Registry& registry, int rc, std::string_view consequence,
               RegistryError& error) {
  std::string what;
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      what = "not an orlim-fleet registry (not an SQLite database)";
      break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      what = "another process is recording into it; gave up waiting after ";
      what += std::to_string(kRegistryWaitMs / 1000);
      what += " s";
      break;
    case SQLITE_FULL:
      what = "the disk is full";
      break;
    case SQLITE_READONLY:
      what = "read-only (recording needs it and its folder writable)";
      break;
    case SQLITE_CORRUPT:
      what = "damaged (SQLite reports it malformed)";
      break;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_PERM: {
      const int system = registry.db ? sqlite3_system_errno(registry.db.get()) : 0;
      what = system != 0 ? std::strerror(system) : sqlite3_errstr(rc);
      break;
    }
    default:
      what = sqlite3_errstr(rc);
      break;
  }
  if (!consequence.empty()) {
    what += "; ";
    what += consequence;
  }
  return fail(registry, error, what);
}

int exec(Registry& registry, const char* sql, std::string_view consequence,
         RegistryError& error) {
  const int rc = sqlite3_exec(registry.db.get(), sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : failSqlite(registry, rc, consequence, error);
}

int prepare(Registry& registry, const char* sql, Statement& statement, RegistryError& error) {
  sqlite3_stmt* s = nullptr;
  const int rc = sqlite3_prepare_v3(registry.db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &s,
                                    nullptr);
  statement.reset(s);
  return rc == SQLITE_OK ? 0 : failSqlite(registry, rc, "", error);
}

// One integer from a query without parameters.
int queryInt(Registry& registry, const char* sql, std::int64_t& value, RegistryError& error) {
  Statement s;
  if (prepare(registry, sql, s, error) != 0) return kRegistryFailed;
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) return failSqlite(registry, rc, "", error);
  value = sqlite3_column_int64(s.get(), 0);
  return 0;
}

std::string_view columnBytes(sqlite3_stmt* s, int column) {
  const void* data = sqlite3_column_blob(s, column);
  const int size = sqlite3_column_bytes(s, column);
  return data == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(data),
                                                                 static_cast<std::size_t>(size));
}

int bindBytes(sqlite3_stmt* s, int at, std::string_view bytes) {
  return sqlite3_bind_blob64(s, at, bytes.data(), bytes.size(), SQLITE_STATIC);
}

int bindText(sqlite3_stmt* s, int at, std::string_view text) {
  return sqlite3_bind_text64(s, at, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

// An id, or NULL for 0.
int bindId(sqlite3_stmt* s, int at, std::int64_t id) {
  return id == 0 ? sqlite3_bind_null(s, at) : sqlite3_bind_int64(s, at, id);
}

// Runs a statement that returns no rows and makes it ready for the next.
int stepDone(Registry& registry, sqlite3_stmt* s, std::string_view consequence,
             RegistryError& error) {
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE ? 0 : failSqlite(registry, rc, consequence, error);
}

bool statusOf(std::int64_t code, Status& status) {
  if (code < 0 || static_cast<std::uint64_t>(code) >= kStatusCount) return false;
  status = static_cast<Status>(code);
  return true;
}

constexpr std::string_view kNothingRecorded = "nothing recorded";

// Brings the schema from version `from` to kRegistrySchema inside a write
// transaction; the version is read again there, as another process may
// have done it meanwhile.
int upgrade(Registry& registry, RegistryError& error) {
  if (exec(registry, "BEGIN IMMEDIATE", "not changed", error) != 0) return kRegistryFailed;
  std::int64_t version = 0;
  if (queryInt(registry, "PRAGMA user_version", version, error) != 0) {
    (void)exec(registry, "ROLLBACK", "", error);
    return kRegistryFailed;
  }
  for (auto step = static_cast<std::size_t>(version); step < kSchemaSteps.size(); ++step) {
    if (exec(registry, kSchemaSteps[step], "not changed", error) != 0) {
      RegistryError ignored;
      (void)exec(registry, "ROLLBACK", "", ignored);
      return kRegistryFailed;
    }
  }
  const std::string stamp = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                            "; PRAGMA user_version = " + std::to_string(kRegistrySchema);
  if (exec(registry, stamp.c_str(), "not changed", error) != 0 ||
      exec(registry, "COMMIT", "not changed", error) != 0) {
    RegistryError ignored;
    (void)exec(registry, "ROLLBACK", "", ignored);
    return kRegistryFailed;
  }
  return 0;
}

}  // namespace

namespace {

// The file as an SQLite URI that opens it read-only and immutable: how a
// registry on a read-only medium is read, where SQLite could not make the
// shared-memory file WAL mode reads through.
std::string immutableUri(std::string_view path) {
  std::string uri = "file:";
  constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '?' || c == '#') {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    } else {
      uri += c;
    }
  }
  return uri + "?mode=ro&immutable=1";
}

int openAndRead(Registry& registry, const char* name, int flags, std::int64_t& application,
                std::int64_t& version, std::int64_t& objects, RegistryError& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name, &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  registry.db.reset(db);
  if (rc != SQLITE_OK) return failSqlite(registry, rc, "", error);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kRegistryWaitMs);
  if (queryInt(registry, "PRAGMA application_id", application, error) != 0 ||
      queryInt(registry, "PRAGMA user_version", version, error) != 0 ||
      queryInt(registry, "SELECT count(*) FROM sqlite_master", objects, error) != 0)
    return kRegistryFailed;
  return 0;
}

}  // namespace

int openRegistry(const char* path, bool forRecord, Registry& registry, RegistryError& error) {
  registry.path = path;
  // Said in this tool's words before SQLite says something vaguer.
  struct stat file {};
  if (::stat(path, &file) != 0) {
    if (!forRecord || errno != ENOENT) return fail(registry, error, std::strerror(errno));
  } else if (!S_ISREG(file.st_mode)) {
    return fail(registry, error, "not an orlim-fleet registry (not a regular file)");
  } else if (forRecord && ::access(path, W_OK) != 0) {
    return fail(registry, error, std::string(std::strerror(errno)) + "; nothing recorded");
  }
  // Recording writes the file's journal beside it.
  if (forRecord) {
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    const std::string folder = slash == std::string_view::npos ? "." : std::string(whole.substr(0, slash + 1));
    if (::access(folder.c_str(), W_OK) != 0)
      return fail(registry, error,
                  std::string("its folder: ") + std::strerror(errno) + "; nothing recorded");
  }
  std::int64_t application = 0;
  std::int64_t version = 0;
  std::int64_t objects = 0;
  const int flags = SQLITE_OPEN_READWRITE | (forRecord ? SQLITE_OPEN_CREATE : 0);
  if (openAndRead(registry, path, flags, application, version, objects, error) != 0) {
    if (forRecord || (sqlite3_errcode(registry.db.get()) & 0xFF) != SQLITE_CANTOPEN)
      return kRegistryFailed;
    if (openAndRead(registry, immutableUri(path).c_str(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                    application, version, objects, error) != 0)
      return kRegistryFailed;
  }
  sqlite3* const db = registry.db.get();
  const bool empty = application == 0 && version == 0 && objects == 0;
  if (!empty && application != kApplicationId)
    return fail(registry, error, "not an orlim-fleet registry (an SQLite database of another program)");
  if (empty && !forRecord)
    return fail(registry, error, "not an orlim-fleet registry (an empty file: nothing recorded yet)");
  if (version > kRegistrySchema)
    return fail(registry, error,
                "made by a newer orlim-fleet (registry schema " + std::to_string(version) +
                    ", this one knows up to " + std::to_string(kRegistrySchema) + "): not read");
  // Readers go on while one records, and a process killed mid-write
  // leaves the last commit whole.
  // Pages of 16 KiB: a million records take a quarter of the pages (and
  // of the system calls) that SQLite's default would; set before the
  // first write.
  if (empty && exec(registry, "PRAGMA page_size = 16384; PRAGMA journal_mode = WAL",
                    kNothingRecorded, error) != 0)
    return kRegistryFailed;
  // Read through a mapping rather than copied in by pread.
  (void)exec(registry, "PRAGMA mmap_size = 17179869184", "", error);
  if (version < kRegistrySchema) {
    if (sqlite3_db_readonly(db, "main") == 1)
      return fail(registry, error,
                  "registry schema " + std::to_string(version) +
                      " is older than this orlim-fleet's: open it writable once to bring it up to " +
                      std::to_string(kRegistrySchema));
    if (upgrade(registry, error) != 0) return kRegistryFailed;
  }
  return 0;
}

// --- reading ---------------------------------------------------------------

int listCollections(Registry& registry, std::vector<CollectionSummary>& out,
                    RegistryError& error) {
  Statement s;
  if (prepare(registry, "SELECT id, name, recorded, records FROM collections ORDER BY id", s,
              error) != 0)
    return kRegistryFailed;
  out.clear();
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    CollectionSummary c;
    c.id = sqlite3_column_int64(s.get(), 0);
    c.name = columnBytes(s.get(), 1);
    c.recorded = sqlite3_column_int64(s.get(), 2);
    c.records = static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 3));
    out.push_back(std::move(c));
  }
  if (rc != SQLITE_DONE) return failSqlite(registry, rc, "", error);
  Statement counts;
  if (prepare(registry, "SELECT collection, verdict, labels FROM counts ORDER BY collection",
              counts, error) != 0)
    return kRegistryFailed;
  std::size_t at = 0;
  while ((rc = sqlite3_step(counts.get())) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(counts.get(), 0);
    Status status;
    if (!statusOf(sqlite3_column_int64(counts.get(), 1), status))
      return fail(registry, error, "damaged (a count of an unknown verdict)");
    while (at < out.size() && out[at].id < id) ++at;
    if (at == out.size() || out[at].id != id)
      return fail(registry, error, "damaged (counts of an unknown collection)");
    out[at].counts[static_cast<std::size_t>(status)] =
        static_cast<std::uint64_t>(sqlite3_column_int64(counts.get(), 2));
  }
  return rc == SQLITE_DONE ? 0 : failSqlite(registry, rc, "", error);
}

int labelHistory(Registry& registry, std::string_view label, std::vector<LabelEntry>& out,
                 RegistryError& error) {
  out.clear();
  Statement s;
  if (prepare(registry,
              "SELECT c.id, c.name, c.recorded, r.verdict,"
              " (SELECT key FROM labels WHERE id = r.moved_from),"
              " (SELECT key FROM labels WHERE id = r.moved_to), r.record"
              " FROM labels l JOIN records r ON r.label = l.id"
              " JOIN collections c ON c.id = r.collection"
              " WHERE l.key = ?1 AND l.labelled = 1 ORDER BY r.id",
              s, error) != 0)
    return kRegistryFailed;
  bindBytes(s.get(), 1, label);
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    LabelEntry e;
    e.collection = sqlite3_column_int64(s.get(), 0);
    e.collectionName = columnBytes(s.get(), 1);
    e.recorded = sqlite3_column_int64(s.get(), 2);
    if (!statusOf(sqlite3_column_int64(s.get(), 3), e.status))
      return fail(registry, error, "damaged (a record of an unknown verdict)");
    e.movedFrom = columnBytes(s.get(), 4);
    e.movedTo = columnBytes(s.get(), 5);
    e.record = columnBytes(s.get(), 6);
    out.push_back(std::move(e));
  }
  return rc == SQLITE_DONE ? 0 : failSqlite(registry, rc, "", error);
}

namespace {

// The records of the named collection (the latest when name is empty):
// ids [first, end).
int collectionRange(Registry& registry, std::string_view name, std::int64_t& first,
                    std::int64_t& end, RegistryError& error) {
  Statement which;
  if (prepare(registry,
              name.empty() ? "SELECT first_record, end_record FROM collections ORDER BY id DESC LIMIT 1"
                           : "SELECT first_record, end_record FROM collections WHERE name = ?1",
              which, error) != 0)
    return kRegistryFailed;
  if (!name.empty()) bindText(which.get(), 1, name);
  const int rc = sqlite3_step(which.get());
  if (rc == SQLITE_DONE) {
    if (name.empty()) return fail(registry, error, "no collection recorded");
    std::string what = "no collection named '";
    appendQuoted(what, name);
    what += "'";
    return fail(registry, error, what);
  }
  if (rc != SQLITE_ROW) return failSqlite(registry, rc, "", error);
  first = sqlite3_column_int64(which.get(), 0);
  end = sqlite3_column_int64(which.get(), 1);
  return 0;
}

// What comes out was read as a decoder's record when it went in; read
// again, so that a damaged or altered file can't pass off anything else.
bool storedRecordReads(std::string_view record, ParsedRecord& parsed, std::string& scratch) {
  RecordError bad;
  return record.size() <= kMaxRecordLineBytes && record.find('\n') == std::string_view::npos &&
         parseRecord(record, parsed, scratch, bad);
}

}  // namespace

int readCollection(Registry& registry, std::string_view name, CollectionEntryFn entry,
                   void* context, RegistryError& error) {
  std::int64_t first = 0;
  std::int64_t end = 0;
  if (collectionRange(registry, name, first, end, error) != 0) return kRegistryFailed;
  Statement s;
  if (prepare(registry,
              "SELECT r.verdict, r.record,"
              " (SELECT key FROM labels WHERE id = r.moved_from),"
              " (SELECT key FROM labels WHERE id = r.moved_to)"
              " FROM records r WHERE r.id >= ?1 AND r.id < ?2 ORDER BY r.id",
              s, error) != 0)
    return kRegistryFailed;
  sqlite3_bind_int64(s.get(), 1, first);
  sqlite3_bind_int64(s.get(), 2, end);
  ParsedRecord parsed;
  std::string scratch;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    CollectionEntry e;
    if (!statusOf(sqlite3_column_int64(s.get(), 0), e.status))
      return fail(registry, error, "damaged (a record of an unknown verdict)");
    e.record = columnBytes(s.get(), 1);
    if (!e.record.empty() && !storedRecordReads(e.record, parsed, scratch))
      return fail(registry, error, "damaged (a stored record is not a decoder's record)");
    e.movedFrom = columnBytes(s.get(), 2);
    e.movedTo = columnBytes(s.get(), 3);
    if (const int stop = entry(context, e); stop != 0) return stop;
  }
  return rc == SQLITE_DONE ? 0 : failSqlite(registry, rc, "", error);
}

int exportCollection(Registry& registry, std::string_view name, ExportLine line, void* context,
                     RegistryError& error) {
  struct Export {
    ExportLine line;
    void* context;
  } exporter{line, context};
  return readCollection(
      registry, name,
      [](void* to, const CollectionEntry& e) {
        const auto* x = static_cast<const Export*>(to);
        return e.record.empty() ? 0 : x->line(x->context, e.record);  // a gone label: no line
      },
      &exporter, error);
}

// --- recording --------------------------------------------------------------

Recording::~Recording() {
  if (open && registry != nullptr) {
    RegistryError ignored;
    (void)exec(*registry, "ROLLBACK", "", ignored);
  }
}

int beginRecording(Registry& registry, Recording& recording, Previous& previous,
                   WarningNames& names, RegistryError& error) {
  recording.registry = &registry;
  // A commit is on the disk before the verdicts are printed, whatever the
  // library was built to do by default.
  if (exec(registry, "PRAGMA synchronous = FULL", "", error) != 0 ||
      exec(registry, "BEGIN IMMEDIATE", kNothingRecorded, error) != 0)
    return kRegistryFailed;
  recording.open = true;

  // Every label's last known record and last known identity, by record id:
  // ids grow with the collections, so in that order they come collection
  // by collection, oldest first, as Previous wants them.
  struct Wanted {
    std::int64_t record;
    std::int64_t label;
  };
  std::vector<Wanted> wanted;
  {
    std::int64_t labels = 0;
    if (queryInt(registry, "SELECT count(*) FROM labels", labels, error) != 0)
      return kRegistryFailed;
    wanted.reserve(static_cast<std::size_t>(labels) + 16);
    Statement s;
    if (prepare(registry, "SELECT id, last, identity FROM labels", s, error) != 0)
      return kRegistryFailed;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      const std::int64_t label = sqlite3_column_int64(s.get(), 0);
      const std::int64_t last = sqlite3_column_int64(s.get(), 1);
      const std::int64_t identity = sqlite3_column_int64(s.get(), 2);
      if (last != 0) wanted.push_back({last, label});
      if (identity != 0 && identity != last) wanted.push_back({identity, label});
    }
    if (rc != SQLITE_DONE) return failSqlite(registry, rc, kNothingRecorded, error);
  }
  std::sort(wanted.begin(), wanted.end(),
            [](const Wanted& a, const Wanted& b) { return a.record < b.record; });

  Statement collections;
  if (prepare(registry, "SELECT id, name FROM collections ORDER BY id", collections, error) != 0)
    return kRegistryFailed;
  // The wanted records lie mostly side by side (the latest collection's):
  // read in one pass from the first, stepping over short gaps and seeking
  // past long ones.
  constexpr std::int64_t kLongGap = 64;
  Statement scan;
  if (prepare(registry, "SELECT id, collection, line, record FROM records WHERE id >= ?1", scan,
              error) != 0)
    return kRegistryFailed;
  reserveFor(previous.records, wanted.size() * 300);
  recording.labelOf.reserve(wanted.size());
  ParsedRecord parsed;
  std::string scratch;
  RecordError bad;
  std::size_t next = 0;
  int rc;
  std::int64_t collection = 0;
  std::int64_t at = -1;  // the row the scan is on; -1 before a seek
  const auto damaged = [&] {
    return fail(registry, error, "damaged (a stored record is not a decoder's record); nothing recorded");
  };
  // Reads the wanted records of the collection begun last: up to the
  // first of a later collection.
  const auto fill = [&]() -> int {
    for (; next < wanted.size(); ++next) {
      const std::int64_t id = wanted[next].record;
      while (at != id) {
        int found;
        if (at < 0 || id - at > kLongGap || at > id) {
          sqlite3_reset(scan.get());
          sqlite3_bind_int64(scan.get(), 1, id);
        }
        found = sqlite3_step(scan.get());
        if (found != SQLITE_ROW) {
          at = -1;
          return found == SQLITE_DONE ? damaged() : failSqlite(registry, found, kNothingRecorded, error);
        }
        at = sqlite3_column_int64(scan.get(), 0);
        if (at > id) return damaged();  // the record a label names is not there
      }
      const std::int64_t of = sqlite3_column_int64(scan.get(), 1);
      if (of != collection) return of > collection ? 0 : damaged();
      const auto line = static_cast<std::uint32_t>(sqlite3_column_int64(scan.get(), 2));
      const std::string_view text = columnBytes(scan.get(), 3);
      if (!parseRecord(text, parsed, scratch, bad) ||
          addRecord(previous.records, parsed, line, names) != AddResult::kAdded)
        return damaged();
      recording.labelOf.push_back(wanted[next].label);
    }
    return 0;
  };
  while ((rc = sqlite3_step(collections.get())) == SQLITE_ROW) {
    collection = sqlite3_column_int64(collections.get(), 0);
    beginCollection(previous, columnBytes(collections.get(), 1));
    if (fill() != 0) return kRegistryFailed;
  }
  scan.reset();
  if (rc != SQLITE_DONE) return failSqlite(registry, rc, kNothingRecorded, error);
  if (next != wanted.size()) return damaged();
  return 0;
}

int commitRecording(Recording& recording, const RecordInput& input, RegistryError& error) {
  Registry& registry = *recording.registry;
  const Collection& now = input.now;
  const Comparison& comparison = input.comparison;
  const std::vector<Verdict>& verdicts = comparison.verdicts;

  Statement s;
  if (prepare(registry,
              "INSERT INTO collections(name, recorded, records, first_record, end_record)"
              " VALUES(?1, ?2, ?3, 0, 0)",
              s, error) != 0)
    return kRegistryFailed;
  bindText(s.get(), 1, input.name);
  sqlite3_bind_int64(s.get(), 2, input.recorded);
  sqlite3_bind_int64(s.get(), 3, static_cast<std::int64_t>(now.records.size()));
  if (const int rc = sqlite3_step(s.get()); rc != SQLITE_DONE) {
    if (rc == SQLITE_CONSTRAINT_UNIQUE) {
      std::string what = "a collection named '";
      appendQuoted(what, input.name);
      what += "' is recorded already; nothing recorded";
      return fail(registry, error, what);
    }
    return failSqlite(registry, rc, kNothingRecorded, error);
  }
  const std::int64_t collection = sqlite3_last_insert_rowid(registry.db.get());

  // Each verdict's label: known from the previous records, or new.
  Statement addLabel;
  Statement findLabel;
  if (prepare(registry, "INSERT OR IGNORE INTO labels(key, labelled) VALUES(?1, ?2)", addLabel,
              error) != 0 ||
      prepare(registry, "SELECT id FROM labels WHERE key = ?1 AND labelled = ?2", findLabel,
              error) != 0)
    return kRegistryFailed;
  std::vector<std::int64_t> labelOfVerdict(verdicts.size(), 0);
  for (std::size_t i = 0; i < verdicts.size(); ++i) {
    const Verdict& v = verdicts[i];
    const std::uint32_t known = v.oldLatest != kNone ? v.oldLatest : v.old;
    if (known != kNone) {
      labelOfVerdict[i] = recording.labelOf[known];
      continue;
    }
    const Record& r = now.records[v.nowHead];
    const bool labelled = (r.flags & kFlagLabelled) != 0;
    // An unlabelled error record has nothing to be known by.
    if (!labelled && (r.flags & kFlagError) != 0) continue;
    const std::string_view key = recordKey(now, r);
    bindBytes(addLabel.get(), 1, key);
    sqlite3_bind_int(addLabel.get(), 2, labelled ? 1 : 0);
    if (stepDone(registry, addLabel.get(), kNothingRecorded, error) != 0) return kRegistryFailed;
    if (sqlite3_changes(registry.db.get()) == 1) {
      labelOfVerdict[i] = sqlite3_last_insert_rowid(registry.db.get());
      continue;
    }
    // Known, but not among the last known records: an earlier label whose
    // records were all of another kind. Found by its key.
    bindBytes(findLabel.get(), 1, key);
    sqlite3_bind_int(findLabel.get(), 2, labelled ? 1 : 0);
    const int rc = sqlite3_step(findLabel.get());
    if (rc != SQLITE_ROW) {
      sqlite3_reset(findLabel.get());
      return failSqlite(registry, rc, kNothingRecorded, error);
    }
    labelOfVerdict[i] = sqlite3_column_int64(findLabel.get(), 0);
    sqlite3_reset(findLabel.get());
  }
  const auto labelOf = [&](std::uint32_t verdict) -> std::int64_t {
    return verdict == kNone ? 0 : labelOfVerdict[verdict];
  };

  // NOW's records in the order read, each with its label's verdict.
  std::vector<std::uint32_t> verdictOf(now.records.size(), kNone);
  for (std::uint32_t i = 0; i < verdicts.size(); ++i)
    for (std::uint32_t r = verdicts[i].nowHead; r != kNone; r = now.records[r].next)
      verdictOf[r] = i;
  Statement add;
  if (prepare(registry,
              "INSERT INTO records(collection, label, verdict, moved_from, moved_to, line, record)"
              " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
              add, error) != 0)
    return kRegistryFailed;
  sqlite3_bind_int64(add.get(), 1, collection);
  std::vector<std::int64_t> speakerRow(verdicts.size(), 0);
  std::int64_t first = 0;
  std::int64_t lastRow = 0;
  const auto addRow = [&](std::uint32_t verdict, const Record* r, std::string_view text) -> int {
    const Verdict& v = verdicts[verdict];
    bindId(add.get(), 2, labelOfVerdict[verdict]);
    sqlite3_bind_int(add.get(), 3, static_cast<int>(v.status));
    bindId(add.get(), 4, labelOf(v.movedFrom));
    bindId(add.get(), 5, labelOf(v.movedTo));
    if (r != nullptr) {
      sqlite3_bind_int64(add.get(), 6, r->line);
      bindBytes(add.get(), 7, text);
    } else {
      sqlite3_bind_null(add.get(), 6);
      sqlite3_bind_null(add.get(), 7);
    }
    if (stepDone(registry, add.get(), kNothingRecorded, error) != 0) return kRegistryFailed;
    lastRow = sqlite3_last_insert_rowid(registry.db.get());
    if (first == 0) first = lastRow;
    return 0;
  };
  for (std::uint32_t i = 0; i < now.records.size(); ++i) {
    const std::uint32_t verdict = verdictOf[i];
    if (verdict == kNone) return fail(registry, error, "a record without a verdict; nothing recorded");
    if (addRow(verdict, &now.records[i], input.lines[i]) != 0) return kRegistryFailed;
    if (verdicts[verdict].now == i) speakerRow[verdict] = lastRow;
  }
  for (std::uint32_t i = 0; i < verdicts.size(); ++i)
    if (verdicts[i].nowHead == kNone && addRow(i, nullptr, {}) != 0) return kRegistryFailed;

  // The labels' last known records (and identities, where NOW gave a token).
  Statement last;
  Statement identity;
  if (prepare(registry, "UPDATE labels SET last = ?2 WHERE id = ?1", last, error) != 0 ||
      prepare(registry, "UPDATE labels SET last = ?2, identity = ?2 WHERE id = ?1", identity,
              error) != 0)
    return kRegistryFailed;
  for (std::uint32_t i = 0; i < verdicts.size(); ++i) {
    if (speakerRow[i] == 0 || labelOfVerdict[i] == 0) continue;
    const bool token = (now.records[verdicts[i].now].flags & kFlagError) == 0;
    sqlite3_stmt* u = token ? identity.get() : last.get();
    sqlite3_bind_int64(u, 1, labelOfVerdict[i]);
    sqlite3_bind_int64(u, 2, speakerRow[i]);
    if (stepDone(registry, u, kNothingRecorded, error) != 0) return kRegistryFailed;
  }

  Statement count;
  if (prepare(registry, "INSERT INTO counts(collection, verdict, labels) VALUES(?1, ?2, ?3)",
              count, error) != 0)
    return kRegistryFailed;
  for (std::size_t i = 0; i < kStatusCount; ++i) {
    if (comparison.counts[i] == 0) continue;
    sqlite3_bind_int64(count.get(), 1, collection);
    sqlite3_bind_int(count.get(), 2, static_cast<int>(i));
    sqlite3_bind_int64(count.get(), 3, static_cast<std::int64_t>(comparison.counts[i]));
    if (stepDone(registry, count.get(), kNothingRecorded, error) != 0) return kRegistryFailed;
  }
  Statement range;
  if (prepare(registry, "UPDATE collections SET first_record = ?2, end_record = ?3 WHERE id = ?1",
              range, error) != 0)
    return kRegistryFailed;
  const std::int64_t end = first == 0 ? 0 : lastRow + 1;
  sqlite3_bind_int64(range.get(), 1, collection);
  sqlite3_bind_int64(range.get(), 2, first);
  sqlite3_bind_int64(range.get(), 3, end);
  if (stepDone(registry, range.get(), kNothingRecorded, error) != 0) return kRegistryFailed;

  // Statements that are not finished keep the transaction from committing.
  s.reset();
  addLabel.reset();
  findLabel.reset();
  add.reset();
  last.reset();
  identity.reset();
  count.reset();
  range.reset();
  if (exec(registry, "COMMIT", kNothingRecorded, error) != 0) return kRegistryFailed;
  recording.open = false;
  return 0;
}

}  // namespace fleet
