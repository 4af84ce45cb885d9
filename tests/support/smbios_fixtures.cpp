#include "support/smbios_fixtures.h"

#include <cstdio>

namespace orlimtest {
namespace {

void putLe(std::string& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Sets bytes[at] so that bytes [from, from + count) sum to zero mod 256.
void fixChecksum(std::string& bytes, std::size_t from, std::size_t count, std::size_t at) {
  bytes[at] = 0;
  unsigned sum = 0;
  for (std::size_t i = from; i < from + count; ++i) sum += static_cast<unsigned char>(bytes[i]);
  bytes[at] = static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
}

}  // namespace

std::string smbiosStructure(std::uint8_t type, std::uint8_t length, const std::string& strings) {
  std::string bytes(length, '\0');
  bytes[0] = static_cast<char>(type);
  bytes[1] = static_cast<char>(length);
  bytes += strings.empty() ? std::string(2, '\0') : strings + std::string(1, '\0');
  return bytes;
}

std::string smbiosType1(const Uuid& raw, std::uint8_t length) {
  std::string bytes = smbiosStructure(1, length);
  for (std::size_t i = 0; i < raw.size(); ++i) bytes[8 + i] = static_cast<char>(raw[i]);
  return bytes;
}

std::string smbiosEndOfTable() { return smbiosStructure(127, 4); }

std::string smbios3EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableLength,
                              std::uint64_t tableAddress) {
  std::string ep(24, '\0');
  ep.replace(0, 5, "_SM3_");
  ep[6] = 24;
  ep[7] = static_cast<char>(major);
  ep[8] = static_cast<char>(minor);
  ep[10] = 1;  // entry point revision
  putLe(ep, 12, tableLength, 4);
  putLe(ep, 16, tableAddress, 8);
  fixChecksum(ep, 0, 24, 5);
  return ep;
}

std::string smbios2EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                              std::uint32_t tableAddress, std::uint16_t count) {
  std::string ep(31, '\0');
  ep.replace(0, 4, "_SM_");
  ep[5] = 31;
  ep[6] = static_cast<char>(major);
  ep[7] = static_cast<char>(minor);
  ep.replace(16, 5, "_DMI_");
  putLe(ep, 22, tableLength, 2);
  putLe(ep, 24, tableAddress, 4);
  putLe(ep, 28, count, 2);
  ep[30] = static_cast<char>(((major & 0xF) << 4) | (minor & 0xF));
  fixChecksum(ep, 16, 15, 21);
  fixChecksum(ep, 0, 31, 4);
  return ep;
}

std::string dmiEntryPoint(std::uint8_t bcdRevision, std::uint16_t tableLength,
                          std::uint32_t tableAddress, std::uint16_t count) {
  std::string ep(15, '\0');
  ep.replace(0, 5, "_DMI_");
  putLe(ep, 6, tableLength, 2);
  putLe(ep, 8, tableAddress, 4);
  putLe(ep, 12, count, 2);
  ep[14] = static_cast<char>(bcdRevision);
  fixChecksum(ep, 0, 15, 5);
  return ep;
}

Uuid swapUuidFields(const Uuid& raw) {
  Uuid out = raw;
  out[0] = raw[3], out[1] = raw[2], out[2] = raw[1], out[3] = raw[0];
  out[4] = raw[5], out[5] = raw[4];
  out[6] = raw[7], out[7] = raw[6];
  return out;
}

std::string hexBytes(const std::string& bytes) {
  std::string text;
  char digits[3];
  for (char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    text += digits;
  }
  return text;
}

std::string hexBytes(const Uuid& bytes) {
  return hexBytes(std::string(bytes.begin(), bytes.end()));
}

std::string uuidText(const Uuid& b) {
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

}  // namespace orlimtest
