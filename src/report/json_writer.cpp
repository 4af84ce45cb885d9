#include "report/json_writer.h"

#include "report/escape.h"

namespace report {
namespace {

// Inside a level refused for its depth: nothing is written.
bool tooDeep(const JsonWriter& w) { return w.depth > kJsonMaxDepth; }

// Before any value: the separator from the one before it at this level,
// unless it follows its key.
void beginValue(JsonWriter& w) {
  if (w.afterKey) {
    w.afterKey = false;
    return;
  }
  if ((w.filled & 1u) != 0) w.out += ", ";
  w.filled |= 1u;
}

void open(JsonWriter& w, char bracket) {
  if (tooDeep(w)) {
    ++w.depth;
    return;
  }
  beginValue(w);
  if (++w.depth > kJsonMaxDepth) {
    // No bit is left to track this level: it stands as null.
    w.refused = true;
    w.out += "null";
    return;
  }
  w.out += bracket;
  w.filled <<= 1;
}

void close(JsonWriter& w, char bracket) {
  if (w.depth == 0) return;
  if (w.depth-- > kJsonMaxDepth) return;
  w.out += bracket;
  w.filled >>= 1;
}

}  // namespace

void jsonBeginObject(JsonWriter& w) { open(w, '{'); }
void jsonEndObject(JsonWriter& w) { close(w, '}'); }
void jsonBeginArray(JsonWriter& w) { open(w, '['); }
void jsonEndArray(JsonWriter& w) { close(w, ']'); }

void jsonKey(JsonWriter& w, std::string_view key) {
  if (tooDeep(w)) return;
  beginValue(w);
  w.out += '"';
  appendJsonEscaped(w.out, key);
  w.out += "\": ";
  w.afterKey = true;
}

void jsonString(JsonWriter& w, std::string_view text) {
  if (tooDeep(w)) return;
  beginValue(w);
  w.out += '"';
  appendJsonEscaped(w.out, text);
  w.out += '"';
}

void jsonStringOrNull(JsonWriter& w, const char* text) {
  if (text == nullptr)
    jsonNull(w);
  else
    jsonString(w, text);
}

void jsonStringIf(JsonWriter& w, bool present, std::string_view text) {
  if (present)
    jsonString(w, text);
  else
    jsonNull(w);
}

void jsonNull(JsonWriter& w) { jsonRaw(w, "null"); }

void jsonBool(JsonWriter& w, bool value) { jsonRaw(w, value ? "true" : "false"); }

void jsonInt(JsonWriter& w, std::int64_t value) {
  if (tooDeep(w)) return;
  beginValue(w);
  w.out += std::to_string(value);
}

void jsonRaw(JsonWriter& w, std::string_view json) {
  if (tooDeep(w)) return;
  beginValue(w);
  w.out += json;
}

}  // namespace report
