#include "support/json.h"

#include <nlohmann/json.hpp>

namespace orlimtest {
namespace {

// nlohmann's reader, which is strict (no leading zeros, no "1.", escapes
// checked, surrogate pairs joined, UTF-8 checked), into the tests' value.
Json convert(const nlohmann::json& from) {
  Json out;
  switch (from.type()) {
    case nlohmann::json::value_t::null:
    case nlohmann::json::value_t::discarded:
      break;
    case nlohmann::json::value_t::boolean:
      out.kind = Json::Kind::kBool;
      out.boolean = from.get<bool>();
      break;
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
      out.kind = Json::Kind::kNumber;
      out.number = from.get<double>();
      out.text = from.dump();
      break;
    case nlohmann::json::value_t::string:
      out.kind = Json::Kind::kString;
      out.text = from.get<std::string>();
      break;
    case nlohmann::json::value_t::array:
      out.kind = Json::Kind::kArray;
      for (const auto& item : from) out.items.push_back(convert(item));
      break;
    case nlohmann::json::value_t::object:
      out.kind = Json::Kind::kObject;
      for (const auto& [key, value] : from.items()) out.members[key] = convert(value);
      break;
    case nlohmann::json::value_t::binary:
      break;  // never parsed from text
  }
  return out;
}

}  // namespace

const Json& Json::at(const std::string& path) const {
  static const Json kNull;
  const Json* node = this;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t dot = path.find('.', start);
    const std::string key =
        path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (node->kind != Kind::kObject) return kNull;
    auto found = node->members.find(key);
    if (found == node->members.end()) return kNull;
    node = &found->second;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return *node;
}

std::optional<Json> parseJson(const std::string& text) {
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return convert(parsed);
}

}  // namespace orlimtest
