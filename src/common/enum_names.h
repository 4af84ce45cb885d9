#pragma once
// One table per enumeration that a report shows, kept beside the
// enumeration itself, naming each value twice:
// a stable identifier for JSON (lower case, words joined by hyphens:
// "permission-denied"), which scripts may rely on, and the phrase the text
// report shows a person ("permission denied"), which may be reworded.

#include <array>
#include <cstddef>
#include <string_view>

template <typename E>
struct EnumName {
  E value;
  std::string_view id;
  std::string_view phrase;
};

template <typename E, std::size_t N>
constexpr const EnumName<E>* findEnumName(const std::array<EnumName<E>, N>& table, E value) {
  for (const EnumName<E>& entry : table)
    if (entry.value == value) return &entry;
  return nullptr;
}

// The entry whose identifier is id, or null.
template <typename E, std::size_t N>
constexpr const EnumName<E>* findEnumId(const std::array<EnumName<E>, N>& table,
                                        std::string_view id) {
  for (const EnumName<E>& entry : table)
    if (entry.id == id) return &entry;
  return nullptr;
}

template <typename E, std::size_t N>
constexpr std::string_view enumId(const std::array<EnumName<E>, N>& table, E value) {
  const EnumName<E>* entry = findEnumName(table, value);
  return entry != nullptr ? entry->id : "unknown";
}

template <typename E, std::size_t N>
constexpr std::string_view enumPhrase(const std::array<EnumName<E>, N>& table, E value) {
  const EnumName<E>* entry = findEnumName(table, value);
  return entry != nullptr ? entry->phrase : "unknown";
}

// Every identifier of a table is lower case ASCII, digits and single inner
// hyphens: checked where a table is defined, with static_assert.
template <typename E, std::size_t N>
constexpr bool enumIdsWellFormed(const std::array<EnumName<E>, N>& table) {
  for (const EnumName<E>& entry : table) {
    const std::string_view id = entry.id;
    if (id.empty() || id.front() == '-' || id.back() == '-') return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
      const char c = id[i];
      const bool ok =
          (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c == '-' && id[i - 1] != '-');
      if (!ok) return false;
    }
  }
  return true;
}

// Whether the table names every value from the first enumerator to last,
// each once: checked where a table is defined, so that a value added to its
// enumeration and not to the table does not compile.
template <typename E, std::size_t N>
constexpr bool enumTableComplete(const std::array<EnumName<E>, N>& table, E last) {
  const auto count = static_cast<std::size_t>(last) + 1;
  if (N != count) return false;
  for (std::size_t v = 0; v < count; ++v) {
    std::size_t seen = 0;
    for (const EnumName<E>& entry : table)
      if (static_cast<std::size_t>(entry.value) == v) ++seen;
    if (seen != 1) return false;
  }
  return true;
}
