#include "support/smbios_builders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/little_endian.h"
#include "support/files.h"

namespace smbiostest {

Uuid uuidFilledWith(std::uint8_t value) {
  Uuid uuid;
  uuid.fill(value);
  return uuid;
}

void fixChecksum(Bytes& bytes, std::size_t from, std::size_t count, std::size_t at) {
  bytes.at(at) = 0;
  unsigned sum = 0;
  for (std::size_t i = from; i < from + count; ++i) sum += bytes.at(i);
  bytes[at] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes structure(std::uint8_t type, std::uint8_t length,
                std::initializer_list<std::string> strings) {
  Bytes bytes(length, 0);
  if (length > 0) bytes[0] = type;
  if (length > 1) bytes[1] = length;
  for (const std::string& s : strings) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  if (strings.size() == 0) bytes.push_back(0);
  return bytes;
}

Bytes type1(const Uuid& raw, std::uint8_t length, std::initializer_list<std::string> strings) {
  Bytes bytes = structure(1, length, strings);
  for (std::size_t i = 0; i < raw.size() && 8 + i < length; ++i) bytes[8 + i] = raw[i];
  return bytes;
}

Bytes endOfTable() { return structure(127, 4); }

Bytes smbios3EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableLength,
                        std::uint64_t tableAddress) {
  Bytes ep(24, 0);
  std::memcpy(ep.data(), "_SM3_", 5);
  ep[6] = 24;
  ep[7] = major;
  ep[8] = minor;
  ep[10] = 1;  // entry point revision
  le::store32(ep, 12, tableLength);
  le::store64(ep, 16, tableAddress);
  sealSmbios3(ep);
  return ep;
}

Bytes smbios2EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                        std::uint32_t tableAddress, std::uint16_t count, std::uint8_t bcdRevision) {
  Bytes ep(31, 0);
  std::memcpy(ep.data(), "_SM_", 4);
  ep[5] = 31;
  ep[6] = major;
  ep[7] = minor;
  std::memcpy(ep.data() + 16, "_DMI_", 5);
  le::store16(ep, 22, tableLength);
  le::store32(ep, 24, tableAddress);
  le::store16(ep, 28, count);
  ep[30] = bcdRevision;
  sealSmbios2(ep);
  return ep;
}

Bytes dmiEntryPoint(std::uint8_t bcdRevision, std::uint16_t tableLength, std::uint32_t tableAddress,
                    std::uint16_t count) {
  Bytes ep(15, 0);
  std::memcpy(ep.data(), "_DMI_", 5);
  le::store16(ep, 6, tableLength);
  le::store32(ep, 8, tableAddress);
  le::store16(ep, 12, count);
  ep[14] = bcdRevision;
  sealDmi(ep);
  return ep;
}

void sealSmbios3(Bytes& ep) {
  if (ep.at(6) != 0) fixChecksum(ep, 0, ep[6], 5);
}

void sealSmbios2(Bytes& ep) {
  fixChecksum(ep, 16, 15, 21);
  if (ep.at(5) != 0) fixChecksum(ep, 0, ep[5], 4);
}

void sealDmi(Bytes& ep, std::size_t at) { fixChecksum(ep, at, 15, at + 5); }

void setTableAddress(Bytes& ep, std::uint64_t address) {
  if (std::memcmp(ep.data(), "_SM3_", 5) == 0) {
    le::store64(ep, 16, address);
    sealSmbios3(ep);
  } else if (std::memcmp(ep.data(), "_SM_", 4) == 0) {
    le::store32(ep, 24, static_cast<std::uint32_t>(address));
    sealSmbios2(ep);
  } else {
    le::store32(ep, 8, static_cast<std::uint32_t>(address));
    sealDmi(ep);
  }
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char pair[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

Bytes fromHex(const std::string& text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

Bytes readFile(const std::string& path) {
  std::string contents;
  if (!testfiles::readWholeFile(path, contents)) throw std::runtime_error("cannot read " + path);
  return Bytes(contents.begin(), contents.end());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

MemoryImage& MemoryImage::put(std::uint64_t address, const Bytes& bytes) {
  pieces_.emplace_back(address, bytes);
  return *this;
}

bool MemoryImage::fill(int fd) const {
  bool ok = ftruncate(fd, static_cast<off_t>(size_)) == 0;
  for (const auto& [address, bytes] : pieces_) {
    ok = ok && pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(address)) ==
                   static_cast<ssize_t>(bytes.size());
  }
  return ok;
}

void MemoryImage::writeTo(const std::string& path) const {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  const bool ok = fill(fd);
  close(fd);
  if (!ok) throw std::runtime_error("cannot fill " + path);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/orlim-smbios-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

int ChainFiles::run(Uuid& uuid) const {
  uuid.fill(0xA5);
  const probes::SmbiosPaths p = paths();
  return probes::readSystemUUID(uuid, p);
}

}  // namespace smbiostest
