#pragma once
// Builders for SMBIOS bytes in tests: entry points with correct checksums,
// structures and string sets.

#include <array>
#include <cstdint>
#include <string>

namespace orlimtest {

using Uuid = std::array<std::uint8_t, 16>;

// A type-1 structure (formatted length `length`, at least 25) with raw UUID
// bytes at offset 8, and an empty string set.
std::string smbiosType1(const Uuid& raw, std::uint8_t length = 27);
// Any structure with a zero-filled formatted area and the given strings.
std::string smbiosStructure(std::uint8_t type, std::uint8_t length, const std::string& strings = "");
std::string smbiosEndOfTable();

std::string smbios3EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableLength,
                              std::uint64_t tableAddress);
std::string smbios2EntryPoint(std::uint8_t major, std::uint8_t minor, std::uint16_t tableLength,
                              std::uint32_t tableAddress, std::uint16_t count);
std::string dmiEntryPoint(std::uint8_t bcdRevision, std::uint16_t tableLength,
                          std::uint32_t tableAddress, std::uint16_t count);

// Bytes 0..3, 4..5 and 6..7 reversed: the order a reader delivers for
// SMBIOS 2.6 and later.
Uuid swapUuidFields(const Uuid& raw);
// Lower-case 32 hex digits, as the token decoder tests compare them.
std::string hexBytes(const std::string& bytes);
std::string hexBytes(const Uuid& bytes);
// The canonical 8-4-4-4-12 text of the bytes in the given order, upper case.
std::string uuidText(const Uuid& bytes);

}  // namespace orlimtest
