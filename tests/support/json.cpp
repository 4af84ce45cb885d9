#include "support/json.h"

#include <cstdlib>

namespace orlimtest {
namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool value(Json& out) {
    skipSpace();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') return object(out);
    if (c == '[') return array(out);
    if (c == '"') {
      out.kind = Json::Kind::kString;
      return string(out.text);
    }
    if (literal("null")) return out.kind = Json::Kind::kNull, true;
    if (literal("true")) return out.kind = Json::Kind::kBool, out.boolean = true, true;
    if (literal("false")) return out.kind = Json::Kind::kBool, out.boolean = false, true;
    return number(out);
  }

  bool atEnd() {
    skipSpace();
    return pos_ == text_.size();
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\t' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool take(char c) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool literal(const char* word) {
    const std::string w = word;
    if (text_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  bool number(Json& out) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() &&
           std::string("0123456789.eE+-").find(text_[pos_]) != std::string::npos)
      ++pos_;
    if (pos_ == start) return false;
    out.kind = Json::Kind::kNumber;
    out.text = text_.substr(start, pos_ - start);
    char* end = nullptr;
    out.number = std::strtod(out.text.c_str(), &end);
    return end != nullptr && *end == '\0';
  }
  bool string(std::string& out) {
    if (!take('"')) return false;
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (pos_ + 4 > text_.size()) return false;
          const unsigned long code = std::strtoul(text_.substr(pos_, 4).c_str(), nullptr, 16);
          pos_ += 4;
          // Back to UTF-8 (U+FFFD stands for an invalid byte); the tools
          // escape nothing past the first plane.
          if (code >= 0xD800 && code <= 0xDFFF) return false;
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool array(Json& out) {
    out.kind = Json::Kind::kArray;
    take('[');
    if (take(']')) return true;
    do {
      Json item;
      if (!value(item)) return false;
      out.items.push_back(std::move(item));
    } while (take(','));
    return take(']');
  }
  bool object(Json& out) {
    out.kind = Json::Kind::kObject;
    take('{');
    if (take('}')) return true;
    do {
      skipSpace();
      std::string key;
      if (!string(key) || !take(':')) return false;
      Json member;
      if (!value(member)) return false;
      if (!out.members.emplace(key, std::move(member)).second) return false;  // no duplicates
    } while (take(','));
    return take('}');
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

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
  Reader reader(text);
  Json value;
  if (!reader.value(value) || !reader.atEnd()) return std::nullopt;
  return value;
}

}  // namespace orlimtest
