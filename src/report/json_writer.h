#pragma once
// Builds one JSON value into a string, in the layout every tool of ours
// prints: ", " between members and elements, ": " after a key, no line
// breaks inside (the caller ends a record with its own "\n"). Strings go
// through the one escaping policy of escape.h.
//
//   JsonWriter w;
//   jsonBeginObject(w);
//   jsonKey(w, "name"); jsonString(w, name);
//   jsonKey(w, "count"); jsonInt(w, n);
//   jsonEndObject(w);          // w.out == {"name": "...", "count": 3}
//
// Nesting is bounded by the one bit per level below: an object or array
// opened deeper than kJsonMaxDepth is written as null, everything inside it
// is left out, and refused says so; the output stays valid JSON.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace report {

inline constexpr std::size_t kJsonMaxDepth = 64;

struct JsonWriter {
  std::string out;
  // One bit per open object or array, deepest lowest: whether a value has
  // been written at that level (so the next needs a separator).
  std::uint64_t filled = 0;
  // Set by jsonKey: the value that follows belongs to it.
  bool afterKey = false;
  // Levels open, those refused past kJsonMaxDepth included.
  std::size_t depth = 0;
  // Whether anything was left out for nesting too deep.
  bool refused = false;
};

void jsonBeginObject(JsonWriter& w);
void jsonEndObject(JsonWriter& w);
void jsonBeginArray(JsonWriter& w);
void jsonEndArray(JsonWriter& w);
// Inside an object: the key of the one value that follows.
void jsonKey(JsonWriter& w, std::string_view key);

void jsonString(JsonWriter& w, std::string_view text);
void jsonStringOrNull(JsonWriter& w, const char* text);  // null for nullptr
// text where present, else null: a member that is there only sometimes.
void jsonStringIf(JsonWriter& w, bool present, std::string_view text);
void jsonNull(JsonWriter& w);
void jsonBool(JsonWriter& w, bool value);
void jsonInt(JsonWriter& w, std::int64_t value);
// A value already in JSON form (a record made elsewhere).
void jsonRaw(JsonWriter& w, std::string_view json);

}  // namespace report
