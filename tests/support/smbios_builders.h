#pragma once
// Byte builders and temporary files for the SMBIOS reader tests.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "probes/smbios_internal.h"

namespace smbiostest {

using Bytes = std::vector<std::uint8_t>;
using Uuid = std::array<std::uint8_t, 16>;

inline constexpr Uuid kRawUuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                  0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
// kRawUuid as a 2.6-or-later reader delivers it.
inline constexpr Uuid kSwappedUuid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
inline constexpr Uuid kZeroUuid = {};

Uuid uuidFilledWith(std::uint8_t value);

// Sets bytes[at] so that bytes [from, from + count) sum to zero mod 256.
void fixChecksum(Bytes& bytes, std::size_t from, std::size_t count, std::size_t at);

Bytes operator+(Bytes a, const Bytes& b);

// A structure with a zero-filled formatted area of `length` bytes (the
// length byte says `length`), then the string set: the strings each with
// their zero byte and a closing zero, or two zero bytes when there are none.
Bytes structure(std::uint8_t type, std::uint8_t length,
                std::initializer_list<std::string> strings = {});
Bytes type1(const Uuid& raw, std::uint8_t length = 27,
            std::initializer_list<std::string> strings = {});
Bytes endOfTable();

// Entry points with valid checksums; the length byte is the entry point's
// own size (24, 31) unless changed afterwards and re-sealed.
Bytes smbios3EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableLength,
                        std::uint64_t tableAddress);
Bytes smbios2EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                        std::uint32_t tableAddress, std::uint16_t count,
                        std::uint8_t bcdRevision = 0);
Bytes dmiEntryPoint(std::uint8_t bcdRevision, std::uint16_t tableLength, std::uint32_t tableAddress,
                    std::uint16_t count);

// Recompute the checksums after editing fields. seal* on an entry point with
// length byte 0 leaves its checksum byte alone (there is none to satisfy).
void sealSmbios3(Bytes& entryPoint);
void sealSmbios2(Bytes& entryPoint);  // intermediate first, then the whole
void sealDmi(Bytes& entryPoint, std::size_t at = 0);

// Point an entry point (of any anchor) at a new table address and re-seal.
void setTableAddress(Bytes& entryPoint, std::uint64_t address);

std::string hex(const Bytes& bytes);
Bytes fromHex(const std::string& text);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, const std::string& text);

// A sparse image of physical memory: size bytes of zeros with pieces put in.
class MemoryImage {
 public:
  explicit MemoryImage(std::uint64_t size) : size_(size) {}
  MemoryImage& put(std::uint64_t address, const Bytes& bytes);
  // The image into a file already open for writing; false when it failed.
  bool fill(int fd) const;
  void writeTo(const std::string& path) const;

 private:
  std::uint64_t size_;
  std::vector<std::pair<std::uint64_t, Bytes>> pieces_;
};

// A fresh directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// Every source of the chain inside a temporary directory; none of the files
// exists until a test writes it.
struct ChainFiles {
  TempDir dir;
  std::string entryPoint = dir.path("smbios_entry_point");
  std::string table = dir.path("DMI");
  std::string efiSystab = dir.path("efi_systab");
  std::string procSystab = dir.path("proc_systab");
  std::string memory = dir.path("mem");
  std::string productUuid = dir.path("product_uuid");

  probes::SmbiosPaths paths() const {
    return {entryPoint.c_str(), table.c_str(),  efiSystab.c_str(),
            procSystab.c_str(), memory.c_str(), productUuid.c_str()};
  }
  // Runs the chain on these files; the output starts out non-zero so that
  // "left all zero" is observed, not assumed.
  int run(Uuid& uuid) const;
};

}  // namespace smbiostest
