#pragma once
// A small JSON reader for tests that check a tool's --json output: strict
// enough that malformed output fails to parse, no more.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orlimtest {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;                     // kString (unescaped), and kNumber as written
  std::vector<Json> items;              // kArray
  std::map<std::string, Json> members;  // kObject

  bool isNull() const { return kind == Kind::kNull; }
  // The member at a dotted path ("uuid.source"); a null Json when any step
  // is missing or not an object.
  const Json& at(const std::string& path) const;
};

// The whole text as one value (white space around it allowed), or nothing.
std::optional<Json> parseJson(const std::string& text);

}  // namespace orlimtest
