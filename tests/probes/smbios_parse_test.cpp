// The SMBIOS reader's pure parts: entry point decoding, the structure-table
// walk, UUID extraction, EFI system table lines and the product UUID text.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "probes/smbios_internal.h"
#include "support/smbios_builders.h"

namespace {

using namespace smbiostest;
using probes::TableLocation;

// --- UUID extraction and byte order -------------------------------------------

TEST(SmbiosExtract, ReversesTheFirstThreeFieldsFromVersion26On) {
  struct Case {
    std::uint16_t version;
    Uuid expected;
  };
  for (const Case& c : {Case{0x0201, kRawUuid}, Case{0x0205, kRawUuid}, Case{0x0206, kSwappedUuid},
                        Case{0x0300, kSwappedUuid}, Case{0x0000, kRawUuid}}) {
    SCOPED_TRACE(c.version);
    Uuid out{};
    EXPECT_EQ(probes::extractSystemUUID(kRawUuid, c.version, out), 0);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(SmbiosExtract, AllZeroOrAllOnesIsUnusableAndClearsTheOutput) {
  for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    Uuid out = uuidFilledWith(0x5A);
    EXPECT_EQ(probes::extractSystemUUID(uuidFilledWith(fill), 0x0300, out), -1);
    EXPECT_EQ(out, kZeroUuid);
  }
  // Nearly uniform is usable: only the two "not set" patterns are refused.
  Uuid almost = uuidFilledWith(0xFF);
  almost[15] = 0xFE;
  Uuid out{};
  EXPECT_EQ(probes::extractSystemUUID(almost, 0x0205, out), 0);
  EXPECT_EQ(out, almost);
}

// A whole entry point plus table, decoded and walked in memory, for each way
// the version reaches the extraction.
struct VersionCase {
  const char* name;
  Bytes entryPoint;
  Uuid expected;
};

TEST(SmbiosEntryPoint, UuidOrderFollowsTheFixedUpVersion) {
  const Bytes table = type1(kRawUuid) + endOfTable();
  const auto len = static_cast<std::uint16_t>(table.size());
  const VersionCase cases[] = {
      {"2.5", smbios2EntryPoint(2, 5, len, 0, 0), kRawUuid},
      {"2.6", smbios2EntryPoint(2, 6, len, 0, 0), kSwappedUuid},
      {"2.31 is 2.3", smbios2EntryPoint(2, 31, len, 0, 0), kRawUuid},
      {"2.33 is 2.3", smbios2EntryPoint(2, 33, len, 0, 0), kRawUuid},
      {"2.51 is 2.6", smbios2EntryPoint(2, 51, len, 0, 0), kSwappedUuid},
      {"2.32 stands", smbios2EntryPoint(2, 32, len, 0, 0), kSwappedUuid},
      {"3.1.1", smbios3EntryPoint(3, 1, len, 0), kSwappedUuid},
      {"3.0 with minor 0", smbios3EntryPoint(3, 0, len, 0), kSwappedUuid},
      {"DMI 0x21", dmiEntryPoint(0x21, len, 0, 0), kRawUuid},
      {"DMI 0x26", dmiEntryPoint(0x26, len, 0, 0), kSwappedUuid},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.name);
    TableLocation location;
    ASSERT_EQ(probes::locateSysfsTable(c.entryPoint, location), 0);
    Uuid out{};
    EXPECT_EQ(
        probes::walkStructureTable(table, location.count, location.version, location.flags, out),
        0);
    EXPECT_EQ(out, c.expected);
  }
}

Bytes smbios3WithDocrev(std::uint8_t docrev) {
  Bytes ep = smbios3EntryPoint(3, 2, 0x11223344, 0x0102030405060708ULL);
  ep[probes::kSmbios3VersionOffset + 2] = docrev;
  sealSmbios3(ep);
  return ep;
}

TEST(SmbiosEntryPoint, FieldsAreTakenLittleEndian) {
  using Parser = int (*)(probes::ByteView, std::uint32_t, TableLocation&);
  struct Case {
    const char* name;
    Parser parse;
    Bytes entryPoint;
    std::uint32_t flags;
    TableLocation expected;
  };
  const Case cases[] = {
      {.name = "SMBIOS 3",
       .parse = probes::parseSmbios3EntryPoint,
       .entryPoint = smbios3WithDocrev(7),
       .flags = probes::kTableInFile,
       .expected = {.address = 0x0102030405060708ULL,
                    .length = 0x11223344u,
                    .count = 0,
                    .version = 0x030207u,
                    .flags = probes::kTableInFile | probes::kStopAtEndOfTable}},
      {.name = "SMBIOS 2.8, not cut at type 127",
       .parse = probes::parseSmbios2EntryPoint,
       .entryPoint = smbios2EntryPoint(2, 8, 0xABCD, 0x8899AABB, 0x1234),
       .flags = 0,
       .expected = {.address = 0x8899AABBu,
                    .length = 0xABCDu,
                    .count = 0x1234,
                    .version = 0x020800u,
                    .flags = 0}},
      {.name = "DMI 2.4",
       .parse = probes::parseDmiEntryPoint,
       .entryPoint = dmiEntryPoint(0x24, 0x0102, 0xF1F2F3F4, 9),
       .flags = 0,
       .expected = {.address = 0xF1F2F3F4u,
                    .length = 0x0102u,
                    .count = 9,
                    .version = 0x020400u,
                    .flags = 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableLocation l;
    ASSERT_EQ(c.parse(c.entryPoint, c.flags, l), 0);
    EXPECT_EQ(l.address, c.expected.address);
    EXPECT_EQ(l.length, c.expected.length);
    EXPECT_EQ(l.count, c.expected.count);
    EXPECT_EQ(l.version, c.expected.version);
    EXPECT_EQ(l.flags, c.expected.flags);
  }
}

// --- Length byte and checksums -----------------------------------------------------

enum class Kind { kSmbios3, kSmbios2 };
void PrintTo(Kind kind, std::ostream* os) { *os << (kind == Kind::kSmbios3 ? "_SM3_" : "_SM_"); }

Bytes entryPointOf(Kind kind) {
  return kind == Kind::kSmbios3 ? smbios3EntryPoint(3, 0, 100, 0)
                                : smbios2EntryPoint(2, 8, 100, 0, 0);
}
std::size_t lengthByteOf(Kind kind) { return kind == Kind::kSmbios3 ? 6 : 5; }
void seal(Kind kind, Bytes& ep) { kind == Kind::kSmbios3 ? sealSmbios3(ep) : sealSmbios2(ep); }
int parse(Kind kind, const Bytes& ep) {
  TableLocation l;
  return kind == Kind::kSmbios3 ? probes::parseSmbios3EntryPoint(ep, 0, l)
                                : probes::parseSmbios2EntryPoint(ep, 0, l);
}

class SmbiosLengthByte : public ::testing::TestWithParam<Kind> {};

TEST_P(SmbiosLengthByte, ZeroSkipsTheChecksum) {
  Bytes ep = entryPointOf(GetParam());
  ep[lengthByteOf(GetParam())] = 0;
  ep[10] ^= 0x5A;  // nothing is summed, so any byte may change
  EXPECT_EQ(parse(GetParam(), ep), 0);
}

TEST_P(SmbiosLengthByte, ThirtyTwoIsSummedAndThirtyThreeRejects) {
  Bytes ep = entryPointOf(GetParam());
  ep.resize(40, 0);
  ep[lengthByteOf(GetParam())] = 32;
  seal(GetParam(), ep);
  EXPECT_EQ(parse(GetParam(), ep), 0);
  ep[31] ^= 1;  // the 32nd byte counts
  EXPECT_EQ(parse(GetParam(), ep), -1);

  ep[lengthByteOf(GetParam())] = 33;
  seal(GetParam(), ep);  // a valid sum over 33 bytes doesn't save it
  EXPECT_EQ(parse(GetParam(), ep), -1);
}

TEST_P(SmbiosLengthByte, AWrongChecksumRejects) {
  Bytes ep = entryPointOf(GetParam());
  ep[10] ^= 0x01;
  EXPECT_EQ(parse(GetParam(), ep), -1);
}

TEST_P(SmbiosLengthByte, ALengthBeyondTheBytesHeldRejectsWithoutReadingOn) {
  // A short sysfs file: the span ends before the length byte's range does.
  Bytes ep = entryPointOf(GetParam());
  const std::size_t held = ep.size();
  ep.resize(32, 0);
  ep[lengthByteOf(GetParam())] = 32;
  seal(GetParam(), ep);  // would sum to zero over all 32
  EXPECT_EQ(parse(GetParam(), Bytes(ep.begin(), ep.begin() + static_cast<long>(held))), -1);
}

std::string kindName(const ::testing::TestParamInfo<Kind>& kind) {
  return kind.param == Kind::kSmbios3 ? "Smbios3" : "Smbios2";
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmbiosLengthByte, ::testing::Values(Kind::kSmbios3, Kind::kSmbios2),
                         kindName);

TEST(SmbiosEntryPoint, Smbios2NeedsItsIntermediateAnchorAndChecksum) {
  Bytes ep = smbios2EntryPoint(2, 8, 100, 0, 0);
  ep[5] = 0;  // even with the outer checksum skipped
  TableLocation l;
  ASSERT_EQ(probes::parseSmbios2EntryPoint(ep, 0, l), 0);

  Bytes anchor = ep;
  anchor[20] = 'X';
  anchor[21] = static_cast<std::uint8_t>(anchor[21] + '_' - 'X');  // sum unchanged
  EXPECT_EQ(probes::parseSmbios2EntryPoint(anchor, 0, l), -1);

  Bytes sum = ep;
  sum[30] ^= 0x10;
  EXPECT_EQ(probes::parseSmbios2EntryPoint(sum, 0, l), -1);
}

TEST(SmbiosEntryPoint, DmiChecksumCoversFifteenBytes) {
  Bytes ep = dmiEntryPoint(0x21, 100, 0, 0);
  TableLocation l;
  ep.push_back(0x77);  // byte 15 is not part of it
  EXPECT_EQ(probes::parseDmiEntryPoint(ep, 0, l), 0);
  ep[14] ^= 1;
  EXPECT_EQ(probes::parseDmiEntryPoint(ep, 0, l), -1);
}

Bytes withoutLengthByteChecksum(Bytes ep, std::size_t lengthOffset) {
  ep[lengthOffset] = 0;
  return ep;
}

TEST(SmbiosEntryPoint, SpansTooShortForTheFieldsAreRejected) {
  using Parser = int (*)(probes::ByteView, std::uint32_t, TableLocation&);
  struct Case {
    const char* name;
    Parser parse;
    Bytes entryPoint;  // accepted whole
    std::size_t needed;
  };
  const Case cases[] = {
      {.name = "SMBIOS 3",
       .parse = probes::parseSmbios3EntryPoint,
       .entryPoint =
           withoutLengthByteChecksum(smbios3EntryPoint(3, 0, 100, 0), probes::kSmbios3LengthOffset),
       .needed = probes::kSmbios3EntryPointSize},
      {.name = "SMBIOS 2.1",
       .parse = probes::parseSmbios2EntryPoint,
       .entryPoint = withoutLengthByteChecksum(smbios2EntryPoint(2, 8, 100, 0, 0),
                                               probes::kSmbios2LengthOffset),
       .needed = probes::kSmbios2EntryPointSize},
      {.name = "DMI",
       .parse = probes::parseDmiEntryPoint,
       .entryPoint = dmiEntryPoint(0x21, 100, 0, 0),
       .needed = probes::kDmiEntryPointSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableLocation l;
    const probes::ByteView whole(c.entryPoint);
    EXPECT_EQ(c.parse(whole.first(c.needed), 0, l), 0);
    EXPECT_EQ(c.parse(whole.first(c.needed - 1), 0, l), -1);
  }
}

TEST(SmbiosEntryPoint, AnEfiLineLeadsToSmbiosEntryPointsOnly) {
  struct Case {
    const char* name;
    Bytes entryPoint;
    int result;
  };
  const Case cases[] = {
      {.name = "SMBIOS 3", .entryPoint = smbios3EntryPoint(3, 0, 100, 0x1000), .result = 0},
      {.name = "SMBIOS 2.1", .entryPoint = smbios2EntryPoint(2, 8, 100, 0x1000, 1), .result = 0},
      {.name = "legacy DMI", .entryPoint = dmiEntryPoint(0x21, 100, 0x1000, 1), .result = -1},
      {.name = "no anchor", .entryPoint = Bytes(32, 0), .result = -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes ep = c.entryPoint;
    ep.resize(probes::kEntryPointBufferSize, 0);  // as read from memory
    TableLocation l;
    EXPECT_EQ(probes::locateSystabTable(ep, l), c.result);
    if (c.result == 0) {
      EXPECT_EQ(l.address, 0x1000u);
    }
  }
}

// --- Structure table walk --------------------------------------------------------------

int walk(const Bytes& table, std::uint16_t count, std::uint32_t flags, Uuid& out,
         std::uint32_t version = 0x030000) {
  out = uuidFilledWith(0xA5);
  return probes::walkStructureTable(table, count, version, flags, out);
}

// Counts up from 1, unlike any other in the table.
const Uuid kCountingUuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(SmbiosWalk, TakesTheFirstUsableType1OfLengthAtLeast25) {
  struct Case {
    const char* name;
    Bytes table;
    int result;
    Uuid raw;
  };
  const Case cases[] = {
      {"length 24 passed over", type1(kCountingUuid, 24) + type1(kRawUuid, 25), 0, kRawUuid},
      {"length 25 used", type1(kRawUuid, 25) + type1(kCountingUuid, 27), 0, kRawUuid},
      {"all 0xFF then usable", type1(uuidFilledWith(0xFF)) + type1(kRawUuid), 0, kRawUuid},
      {"all zero then usable", type1(kZeroUuid) + type1(kRawUuid), 0, kRawUuid},
      {"only unusable", type1(uuidFilledWith(0xFF)) + type1(kZeroUuid), -1, kZeroUuid},
      {"after structures with strings",
       structure(0, 24, {"Vendor", "1.0"}) + structure(3, 20, {"x"}) +
           type1(kRawUuid, 27, {"Maker", "Box"}),
       0, kRawUuid},
      {"no type 1: output untouched", structure(2, 8, {"Board"}) + endOfTable(), -1,
       uuidFilledWith(0xA5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Uuid out;
    EXPECT_EQ(walk(c.table, 0, 0, out, 0x020500), c.result);
    EXPECT_EQ(out, c.raw);
  }
}

TEST(SmbiosWalk, CountAndEndOfTableRules) {
  // Structures: 1 = board, 2 = end of table, 3 = the type-1.
  const Bytes table = structure(2, 8) + endOfTable() + type1(kRawUuid);
  struct Case {
    const char* name;
    std::uint16_t count;
    std::uint32_t flags;
    int result;
  };
  for (const Case& c :
       {Case{"count 0 walks to the end", 0, 0, 0},
        Case{"the count-th structure is examined", 3, 0, 0}, Case{"one short of it", 2, 0, -1},
        Case{"count 1", 1, 0, -1}, Case{"2.x ignores type 127", 5, 0, 0},
        Case{"3.x stops at type 127", 0, probes::kStopAtEndOfTable, -1}}) {
    SCOPED_TRACE(c.name);
    Uuid out;
    EXPECT_EQ(walk(table, c.count, c.flags, out), c.result);
    EXPECT_EQ(out, c.result == 0 ? kSwappedUuid : uuidFilledWith(0xA5)) << "type-1 never reached";
  }
}

TEST(SmbiosWalk, MalformedTablesEndTheWalk) {
  const Bytes usable = type1(kRawUuid);
  Bytes noTerminator = type1(kRawUuid, 27, {"abc"});
  noTerminator.resize(noTerminator.size() - 1);  // "abc\0" but no closing zero
  Bytes strayAfterTerminator = noTerminator;
  strayAfterTerminator.push_back('Z');  // the last byte can't start a pair
  struct Case {
    const char* name;
    Bytes table;
  };
  const Case cases[] = {
      {"length byte 3 before the type-1", structure(2, 8) + Bytes{5, 3, 0, 0, 0, 0} + usable},
      {"length byte 0", Bytes{1, 0, 0, 0} + usable},
      {"table of 3 bytes", Bytes{1, 27, 0}},
      {"empty table", Bytes{}},
      {"formatted area past the end",
       [&] {
         Bytes t = usable;
         t.resize(26);
         return t;
       }()},
      {"string set runs off the table", noTerminator},
      {"string set ends one byte short", strayAfterTerminator},
      {"type-1 length byte beyond the table",
       [] {
         Bytes t = type1(kRawUuid);
         t[1] = 200;
         return t;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Uuid out;
    EXPECT_EQ(walk(c.table, 0, 0, out), -1);
    EXPECT_EQ(out, uuidFilledWith(0xA5)) << "nothing taken from a broken table";
  }
}

TEST(SmbiosWalk, AStructureEndingExactlyAtTheTableEndIsUsed) {
  Uuid out;
  EXPECT_EQ(walk(structure(2, 8) + type1(kRawUuid), 0, 0, out), 0);
  // Trailing bytes too short for another header don't undo it, and a
  // header that would fit isn't needed.
  EXPECT_EQ(walk(type1(kRawUuid) + Bytes{0, 0, 0}, 0, 0, out), 0);
  EXPECT_EQ(walk(structure(2, 8) + Bytes{1, 27, 0}, 0, 0, out), -1);
}

// --- EFI system table lines ---------------------------------------------------------

TEST(SmbiosSystab, LineKeysAndValues) {
  struct Case {
    const char* line;
    int found;
    std::uint64_t address;
  };
  const Case cases[] = {
      {"SMBIOS=0xf0000\n", 1, 0xF0000}, {"SMBIOS3=0x7fb3d000\n", 1, 0x7FB3D000},
      {"SMBIOS=0X1F\n", 1, 0x1F},       {"SMBIOS=0777\n", 1, 0777},
      {"SMBIOS=983040\n", 1, 983040},   {"SMBIOS3=0x123456789a\n", 1, 0x123456789AULL},
      {"SMBIOS=junk\n", 1, 0},          {"SMBIOS=\n", 1, 0},
      {"SMBIOS=0x10=0x20\n", 1, 0x10},  {"SMBIOS3 =0x10\n", 0, 0},
      {" SMBIOS=0x10\n", 0, 0},         {"smbios=0x10\n", 0, 0},
      {"SMBIOS30=0x10\n", 0, 0},        {"SMBIOS\n", 0, 0},
      {"ACPI20=0x7ff7e014\n", 0, 0},    {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::uint64_t address = 0xDEAD;
    EXPECT_EQ(probes::parseSystabLine(c.line, address), c.found);
    if (c.found != 0) {
      EXPECT_EQ(address, c.address);
    }
  }
}

struct SystabCase {
  const char* name;
  std::string text;
  int result;
  std::uint64_t address;
};

TEST(SmbiosSystab, StreamTakesTheFirstKeyedPiece) {
  const std::string pad62(62, 'x');
  const SystabCase cases[] = {
      {"SMBIOS before SMBIOS3", "ACPI20=0x1\nSMBIOS=0xe0000\nSMBIOS3=0x7000\n", 0, 0xE0000},
      {"SMBIOS3 before SMBIOS", "SMBIOS3=0x7000\nSMBIOS=0xe0000\n", 0, 0x7000},
      {"spaced key skipped", "SMBIOS3 =0x7000\nSMBIOS=0xe0000\n", 0, 0xE0000},
      {"none", "ACPI20=0x7ff7e014\nACPI=0x7ff7e000\n", -1, 0},
      {"empty", "", -1, 0},
      {"no final line end", "SMBIOS=0x1234", 0, 0x1234},
      // The 63rd character of a line starts a new piece, read as a line.
      {"key in the second piece", pad62 + "SMBIOS=0x4321\n", 0, 0x4321},
      {"key one character later is not a key", pad62 + "xSMBIOS=0x4321\n", -1, 0},
      // A value cut by the piece boundary converts only what the piece has.
      {"value cut at the boundary", "SMBIOS=0x" + std::string(53, '0') + "ABCDEF\n", 0, 0},
      {"value cut after digits", "SMBIOS=0x" + std::string(51, '0') + "12ABCD\n", 0, 0x12},
      // The reader stops after kSystabMaxPieces pieces: every file up to that
      // many bytes is read whole, and nothing past that many pieces.
      {"key in the last piece read",
       std::string(probes::kSystabMaxPieces - 1, '\n') + "SMBIOS=0x77\n", 0, 0x77},
      {"key one piece too late", std::string(probes::kSystabMaxPieces, '\n') + "SMBIOS=0x77\n", -1,
       0},
  };
  for (const SystabCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text;
    std::FILE* stream =
        text.empty() ? std::fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(stream, nullptr);
    std::uint64_t address = 0xDEAD;
    EXPECT_EQ(probes::findSystabEntryPoint(stream, address), c.result);
    if (c.result == 0) {
      EXPECT_EQ(address, c.address);
    }
    std::fclose(stream);
  }
}

TEST(SmbiosSystab, AnEndlessStreamEnds) {
  // A character device at the systab's path: zeros for ever, no line end.
  std::FILE* stream = std::fopen("/dev/zero", "r");
  ASSERT_NE(stream, nullptr);
  std::uint64_t address = 0;
  EXPECT_EQ(probes::findSystabEntryPoint(stream, address), -1);
  std::fclose(stream);
}

// --- Product UUID text ------------------------------------------------------------------

Uuid parseText(const std::string& text) {
  EXPECT_EQ(text.size(), probes::kProductUuidTextSize);
  Bytes bytes(text.begin(), text.end());
  Uuid out = uuidFilledWith(0xA5);
  probes::parseProductUuidText(std::span<std::uint8_t, 37>(bytes.data(), 37), out);
  return out;
}

TEST(SmbiosProductUuid, DigitPairsInWrittenOrder) {
  EXPECT_EQ(parseText("00112233-4455-6677-8899-AABBCCDDEEFF\n"), kRawUuid);
  EXPECT_EQ(parseText("00112233-4455-6677-8899-aabbccddeeff\n"), kRawUuid);
  // The 37th byte is never part of the text, whatever it holds.
  EXPECT_EQ(parseText("00112233-4455-6677-8899-AABBCCDDEEFF7"), kRawUuid);
}

TEST(SmbiosProductUuid, PositionsWithoutDigitsGiveZeroBytes) {
  Uuid expected = kRawUuid;
  expected[0] = 0;
  expected[5] = 0;
  EXPECT_EQ(parseText("zz112233-44zz-6677-8899-AABBCCDDEEFF\n"), expected);
  EXPECT_EQ(parseText(std::string(36, 'q') + "\n"), kZeroUuid);
  EXPECT_EQ(parseText(std::string(36, '\0') + "\n"), kZeroUuid);
}

TEST(SmbiosProductUuid, TheCursorNeverPassesTheThirtySixCharacters) {
  // Seven extra dashes put the cursor on the last character for byte 14,
  // which converts a single digit; the step of two then jumps the
  // terminator, and byte 15 must come from nowhere beyond it.
  const std::string text = "-00-11-22-33-44-55-66778899AABBCCDDE\n";
  Uuid expected = kRawUuid;
  expected[14] = 0x0E;
  expected[15] = 0;
  EXPECT_EQ(parseText(text), expected);
  // One dash per pair: twelve bytes use all 36 characters.
  Uuid twelve = kZeroUuid;
  for (std::size_t i = 0; i < 12; ++i) twelve[i] = kRawUuid[i];
  EXPECT_EQ(parseText("-00-11-22-33-44-55-66-77-88-99-AA-BB\n"), twelve);
}

// The text as the last 37 bytes before an inaccessible page: any read past
// them, even one inside the C library, faults.
class GuardedText {
 public:
  GuardedText() {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* area =
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(area, MAP_FAILED);
    area_ = static_cast<std::uint8_t*>(area);
    EXPECT_EQ(mprotect(area_ + page_, page_, PROT_NONE), 0);
  }
  ~GuardedText() { munmap(area_, 2 * page_); }
  std::span<std::uint8_t, 37> hold(const std::string& text) {
    std::uint8_t* at = area_ + page_ - 37;
    std::memcpy(at, text.data(), 37);
    return std::span<std::uint8_t, 37>(at, 37);
  }

 private:
  std::size_t page_ = 0;
  std::uint8_t* area_ = nullptr;
};

TEST(SmbiosProductUuid, NothingAfterTheTextIsReadWhateverItHolds) {
  GuardedText guarded;
  for (const std::string& text : {std::string("-00-11-22-33-44-55-66778899AABBCCDDE\n"),
                                  std::string("-0-1-2-3-4-5-6-7-8-9-A-B-C-D-E-F-0-1\n"),
                                  std::string(36, '-') + "\n", std::string(37, '7')}) {
    SCOPED_TRACE(text);
    Uuid out{};
    probes::parseProductUuidText(guarded.hold(text), out);
  }
}

TEST(SmbiosProductUuid, AtMostOneDashIsSkippedPerByte) {
  // The second dash reaches %2hhx, which reads "-1" as a signed value.
  Uuid out = parseText("00--1122-3344-5566-7788-99AABBCCDDEE\n");
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xFF);
}

}  // namespace

namespace {

using namespace smbiostest;

// A structure with the string indexes put at the given offsets.
Bytes withIndexes(Bytes s, std::initializer_list<std::pair<std::size_t, std::uint8_t>> indexes) {
  for (const auto& [offset, index] : indexes) s[offset] = index;
  return s;
}

std::string text(const probes::FirmwareString& s) { return s.data(); }

TEST(SmbiosFirmwareStrings, TakesTheFirstOfEachTypeByIndex) {
  Bytes bios = withIndexes(structure(0, 0x18, {"SeaBIOS"}), {{0x04, 1}});
  bios[0x13] = 0x10;  // the "virtual machine" characteristic
  const Bytes table =
      bios + withIndexes(type1(kRawUuid, 27, {"QEMU", "Standard PC"}), {{4, 1}, {5, 2}, {6, 0}}) +
      withIndexes(structure(2, 0x08, {"Board Maker"}), {{4, 1}}) +
      withIndexes(type1(kRawUuid, 27, {"Second"}), {{4, 1}}) + endOfTable();
  probes::FirmwareStrings s;
  EXPECT_EQ(probes::findFirmwareStrings(table, 0, 0, s), 0);
  EXPECT_EQ(text(s.biosVendor), "SeaBIOS");
  EXPECT_EQ(s.virtualMachineBit, 1);
  EXPECT_EQ(text(s.systemManufacturer), "QEMU");
  EXPECT_EQ(text(s.systemProduct), "Standard PC");
  EXPECT_EQ(text(s.systemVersion), "");  // index 0: no string
  EXPECT_EQ(text(s.boardManufacturer), "Board Maker");
}

TEST(SmbiosFirmwareStrings, BoundsOfFieldsStringsAndTable) {
  // A type-0 structure too short for the characteristic byte, and a type-1
  // structure whose length stops before the product field: the manufacturer
  // index points past its strings.
  const Bytes table = withIndexes(structure(0, 0x12, {"Old BIOS"}), {{0x04, 1}}) +
                      withIndexes(structure(1, 0x05, {"Only"}), {{4, 3}}) + endOfTable();
  probes::FirmwareStrings s;
  EXPECT_EQ(probes::findFirmwareStrings(table, 0, 0, s), 0);
  EXPECT_EQ(text(s.biosVendor), "Old BIOS");
  EXPECT_EQ(s.virtualMachineBit, -1);
  EXPECT_TRUE(s.systemInformationSeen);
  EXPECT_EQ(text(s.systemManufacturer), "");
  EXPECT_EQ(text(s.systemProduct), "");

  // A long string is cut to fit, terminated.
  const Bytes longName = withIndexes(type1(kRawUuid, 27, {std::string(200, 'V')}), {{4, 1}});
  probes::FirmwareStrings cut;
  EXPECT_EQ(probes::findFirmwareStrings(longName + endOfTable(), 0, 0, cut), 0);
  EXPECT_EQ(text(cut.systemManufacturer), std::string(probes::kFirmwareStringSize - 1, 'V'));

  // A table cut inside the strings: malformed, nothing read past it.
  Bytes truncated = withIndexes(type1(kRawUuid, 27, {"QEMU"}), {{4, 1}});
  truncated.resize(27 + 3);
  probes::FirmwareStrings none;
  EXPECT_EQ(probes::findFirmwareStrings(truncated, 0, 0, none), -1);
  EXPECT_FALSE(none.systemInformationSeen);

  // The structure count stops the walk as in the UUID walk.
  probes::FirmwareStrings counted;
  EXPECT_EQ(probes::findFirmwareStrings(table, 1, 0, counted), 0);
  EXPECT_FALSE(counted.systemInformationSeen);
}

}  // namespace
