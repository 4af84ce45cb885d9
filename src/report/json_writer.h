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

#include <cstdint>
#include <string>
#include <string_view>

namespace report {

struct JsonWriter {
  std::string out;
  // One bit per open object or array, deepest lowest: whether a value has
  // been written at that level (so the next needs a separator).
  std::uint64_t filled = 0;
  // Set by jsonKey: the value that follows belongs to it.
  bool afterKey = false;
};

void jsonBeginObject(JsonWriter& w);
void jsonEndObject(JsonWriter& w);
void jsonBeginArray(JsonWriter& w);
void jsonEndArray(JsonWriter& w);
// Inside an object: the key of the one value that follows.
void jsonKey(JsonWriter& w, std::string_view key);

void jsonString(JsonWriter& w, std::string_view text);
void jsonStringOrNull(JsonWriter& w, const char* text);  // null for nullptr
void jsonNull(JsonWriter& w);
void jsonBool(JsonWriter& w, bool value);
void jsonInt(JsonWriter& w, std::int64_t value);
// A value already in JSON form (a record made elsewhere).
void jsonRaw(JsonWriter& w, std::string_view json);

}  // namespace report
