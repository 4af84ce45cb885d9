// Real firmware tables from shipping machines, driven by the dumps' own
// expected.tsv. Each dump is laid out every way the reader can meet it:
// as the sysfs pair, behind an EFI system table line in a memory image, and
// in the legacy BIOS window of a memory image.
//
// The dumps are data from outside the project: the build names their folder
// (ORLIM_SMBIOS_DUMPS, a CMake cache variable), and the environment variable
// of the same name overrides it for one run. Without them the tests skip.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "probes/smbios_internal.h"
#include "support/smbios_builders.h"

namespace {

using namespace smbiostest;

std::string dumpDir() {
  const char* named = std::getenv("ORLIM_SMBIOS_DUMPS");
  return named != nullptr && *named != '\0' ? named : ORLIM_SMBIOS_DUMPS;
}

const std::string kDumpDir = dumpDir();

bool haveCorpus() { return !kDumpDir.empty() && std::filesystem::is_directory(kDumpDir); }

struct DumpRow {
  std::string file;  // as listed, a trailing '/' for sysfs directories
  std::string anchor;
  std::string version;
  int result = 0;
  Uuid uuid{};
};

// Test names and failure messages show the file, not the record's bytes.
void PrintTo(const DumpRow& row, std::ostream* os) { *os << row.file; }

std::vector<DumpRow> readExpected() {
  std::vector<DumpRow> rows;
  if (!haveCorpus()) return rows;
  std::ifstream in(kDumpDir + "/expected.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 5) continue;
    DumpRow row{fields[0], fields[1], fields[2], std::stoi(fields[3]), {}};
    if (row.result == 0) {
      const Bytes bytes = fromHex(fields[4]);
      if (bytes.size() != 16) continue;
      std::copy(bytes.begin(), bytes.end(), row.uuid.begin());
    }
    rows.push_back(row);
  }
  return rows;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool hasAnchor(const Bytes& bytes, std::size_t at, const char* anchor) {
  return bytes.size() >= at + std::strlen(anchor) &&
         std::memcmp(bytes.data() + at, anchor, std::strlen(anchor)) == 0;
}

// An entry point's own size: its length byte (capped at the reader's 32),
// 15 for a legacy one.
std::size_t entryPointSize(const Bytes& bytes, std::size_t at = 0) {
  std::size_t length = 15;
  if (hasAnchor(bytes, at, "_SM3_"))
    length = bytes.at(at + 6);
  else if (hasAnchor(bytes, at, "_SM_"))
    length = bytes.at(at + 5);
  return length == 0 || length > 32 ? 32 : length;
}

struct Dump {
  Bytes entryPoint;
  Bytes table;
};

// The entry point and table of a dump in any of its three forms.
Dump loadDump(const std::string& file) {
  const std::string path = kDumpDir + "/" + file;
  if (endsWith(file, "/")) return {readFile(path + "smbios_entry_point"), readFile(path + "DMI")};
  const Bytes bytes = readFile(path);
  if (endsWith(file, ".mem")) {
    for (std::size_t at = 0xF0000; at + 32 <= 0x100000; at += 16) {
      Bytes ep;
      std::uint64_t address = 0, length = 0;
      if (hasAnchor(bytes, at, "_SM3_")) {
        address = le::load64(bytes, at + 16);
        length = le::load32(bytes, at + 12);
      } else if (hasAnchor(bytes, at, "_SM_")) {
        address = le::load32(bytes, at + 24);
        length = le::load16(bytes, at + 22);
      } else if (hasAnchor(bytes, at, "_DMI_")) {
        address = le::load32(bytes, at + 8);
        length = le::load16(bytes, at + 6);
      } else {
        continue;
      }
      const auto from = bytes.begin() + static_cast<long>(at);
      const auto table = bytes.begin() + static_cast<long>(address);
      return {Bytes(from, from + static_cast<long>(entryPointSize(bytes, at))),
              Bytes(table, table + static_cast<long>(length))};
    }
    return {};
  }
  // dmidecode's layout: entry point at 0, table from 32.
  return {Bytes(bytes.begin(), bytes.begin() + static_cast<long>(entryPointSize(bytes))),
          Bytes(bytes.begin() + 32, bytes.end())};
}

std::string versionText(const Bytes& ep) {
  probes::TableLocation l;
  char text[32] = "?";
  if (hasAnchor(ep, 0, "_SM3_") && probes::parseSmbios3EntryPoint(ep, 0, l) == 0)
    std::snprintf(text, sizeof text, "%u.%u.%u", l.version >> 16, (l.version >> 8) & 0xFF,
                  l.version & 0xFF);
  else if (hasAnchor(ep, 0, "_SM_") && probes::parseSmbios2EntryPoint(ep, 0, l) == 0)
    std::snprintf(text, sizeof text, "%u.%u", l.version >> 16, (l.version >> 8) & 0xFF);
  else if (probes::parseDmiEntryPoint(ep, 0, l) == 0)
    std::snprintf(text, sizeof text, "%u.%u", l.version >> 16, (l.version >> 8) & 0xFF);
  return text;
}

class SmbiosDump : public ::testing::TestWithParam<DumpRow> {
 protected:
  void SetUp() override {
    dump = loadDump(GetParam().file);
    ASSERT_FALSE(dump.entryPoint.empty()) << "no entry point in " << GetParam().file;
    ASSERT_GE(dump.table.size(), 4u);
  }
  Uuid expectedUuid() const { return GetParam().result == 0 ? GetParam().uuid : kZeroUuid; }
  bool isSmbios3() const { return hasAnchor(dump.entryPoint, 0, "_SM3_"); }

  Dump dump;
  ChainFiles files;
  Uuid uuid{};
};

TEST_P(SmbiosDump, AnchorAndVersionAreTheListedOnes) {
  EXPECT_TRUE(hasAnchor(dump.entryPoint, 0, GetParam().anchor.c_str()));
  EXPECT_EQ(versionText(dump.entryPoint), GetParam().version);
}

TEST_P(SmbiosDump, SysfsPair) {
  writeFile(files.entryPoint, dump.entryPoint);
  writeFile(files.table, dump.table);
  EXPECT_EQ(probes::decodeSysfsEntryPoint(dump.entryPoint, files.table.c_str(), uuid),
            GetParam().result);
  EXPECT_EQ(uuid, expectedUuid());
  // Through the chain, a sysfs failure leaves the result to later sources;
  // none exists here.
  EXPECT_EQ(files.run(uuid), GetParam().result == 0 ? 0 : -2);
  EXPECT_EQ(uuid, expectedUuid());
}

TEST_P(SmbiosDump, EfiSystemTableIntoMemory) {
  if (!isSmbios3() && !hasAnchor(dump.entryPoint, 0, "_SM_"))
    GTEST_SKIP() << "EFI lines lead to SMBIOS entry points only";
  // The entry point off any alignment, the table across a page boundary,
  // both above the legacy window; the rest of the image is a sparse hole.
  constexpr std::uint64_t kEntryPoint = 0x1234568;
  constexpr std::uint64_t kTable = 0x2FFFF00;
  Bytes ep = dump.entryPoint;
  setTableAddress(ep, kTable);
  MemoryImage(0x4000000).put(kEntryPoint, ep).put(kTable, dump.table).writeTo(files.memory);
  writeFile(files.efiSystab, std::string("ACPI20=0x7ff7e014\n") +
                                 (isSmbios3() ? "SMBIOS3" : "SMBIOS") +
                                 "=0x1234568\nBOOTINFO=0x7f000000\n");
  EXPECT_EQ(files.run(uuid), GetParam().result);
  EXPECT_EQ(uuid, expectedUuid());
}

// Through the chain where it scans the window (x86); elsewhere the scan on
// its own, whose rules hold wherever it is built.
int readWindow(const smbiostest::ChainFiles& files, const char* memory, Uuid& uuid) {
  probes::SmbiosPaths paths = files.paths();
  paths.memory = memory;
  if constexpr (probes::kHasLegacyBiosArea) {
    uuid.fill(0xA5);
    return probes::readSystemUUID(uuid, paths);
  }
  uuid.fill(0);  // as the chain leaves it before its sources
  return probes::scanMemoryWindow(paths.memory, uuid);
}

TEST_P(SmbiosDump, LegacyWindowScan) {
  if (endsWith(GetParam().file, ".mem")) {
    // The image as captured, read as the memory device in place.
    const std::string image = kDumpDir + "/" + GetParam().file;
    EXPECT_EQ(readWindow(files, image.c_str(), uuid), GetParam().result);
    EXPECT_EQ(uuid, expectedUuid());
  }
  constexpr std::uint64_t kTable = 0x20000;
  Bytes ep = dump.entryPoint;
  setTableAddress(ep, kTable);
  MemoryImage(0x100000).put(0xF0530, ep).put(kTable, dump.table).writeTo(files.memory);
  EXPECT_EQ(readWindow(files, files.memory.c_str(), uuid), GetParam().result);
  EXPECT_EQ(uuid, expectedUuid());
}

std::string rowName(const ::testing::TestParamInfo<DumpRow>& info) {
  std::string name;
  for (char c : info.param.file)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(Shared, SmbiosDump, ::testing::ValuesIn(readExpected()), rowName);
// Without a corpus there are no instances, and that is not a fault.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SmbiosDump);

TEST(SmbiosDumps, EveryListedDumpIsPresent) {
  if (!haveCorpus())
    GTEST_SKIP() << (kDumpDir.empty() ? std::string("no SMBIOS dump corpus configured")
                                      : "no SMBIOS dump corpus at '" + kDumpDir + "'")
                 << ", so the dump tests are skipped. To run them, put real dumps with "
                    "their expected.tsv in ../shared/smbios-dumps beside the checkout, or "
                    "configure with -DORLIM_SMBIOS_DUMPS=DIR naming such a folder.";
  const std::vector<DumpRow> rows = readExpected();
  EXPECT_FALSE(rows.empty()) << "expected.tsv missing or unreadable in " << kDumpDir;
  for (const DumpRow& row : rows)
    EXPECT_TRUE(std::filesystem::exists(kDumpDir + "/" + row.file)) << row.file;
}

}  // namespace
