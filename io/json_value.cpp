#include "io/json_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document(std::string& problem) {
    JsonValue v;
    skipSpace();
    if (!value(v, 0)) {
      problem = problem_ + " at byte " + std::to_string(at_);
      return std::nullopt;
    }
    skipSpace();
    if (at_ != text_.size()) {
      problem = "text after the document at byte " + std::to_string(at_);
      return std::nullopt;
    }
    return v;
  }

 private:
  bool fail(const char* why) {
    if (problem_.empty()) problem_ = why;
    return false;
  }
  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return fail("an unknown word");
    at_ += word.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    if (depth >= kMaxJsonDepth) return fail("nesting too deep");
    if (at_ >= text_.size()) return fail("the document ends early");
    const char c = text_[at_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      return string(v.text);
    }
    if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    return number(v);
  }

  bool object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kObject;
    ++at_;
    skipSpace();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      skipSpace();
      std::string key;
      if (at_ >= text_.size() || text_[at_] != '"') return fail("a member without a name");
      if (!string(key)) return false;
      skipSpace();
      if (at_ >= text_.size() || text_[at_] != ':') return fail("a name without ':'");
      ++at_;
      skipSpace();
      v.names.push_back(std::move(key));
      v.values.emplace_back();
      if (!value(v.values.back(), depth + 1)) return false;
      skipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
      return fail("an object not closed");
    }
  }

  bool array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kArray;
    ++at_;
    skipSpace();
    if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
    for (;;) {
      skipSpace();
      v.items.emplace_back();
      if (!value(v.items.back(), depth + 1)) return false;
      skipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
      return fail("an array not closed");
    }
  }

  static void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) break;
      const char e = text_[at_++];
      if (e == 'u') {
        if (at_ + 4 > text_.size()) return fail("a short \\u escape");
        uint32_t cp = 0;
        for (int i = 0; i < 4; ++i) {
          const char h = text_[at_++];
          const int d = h >= '0' && h <= '9'   ? h - '0'
                        : h >= 'a' && h <= 'f' ? h - 'a' + 10
                        : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                               : -1;
          if (d < 0) return fail("a bad \\u escape");
          cp = cp * 16 + static_cast<uint32_t>(d);
        }
        appendUtf8(out, cp);  // surrogate halves are kept as they are: names only, never paths
        continue;
      }
      const std::string_view from = "\"\\/bfnrt";
      const std::string_view to = "\"\\/\b\f\n\r\t";
      const size_t k = from.find(e);
      if (k == std::string_view::npos) return fail("an unknown escape");
      out += to[k];
    }
    return fail("a string not closed");
  }

  bool number(JsonValue& v) {
    const size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const auto digits = [&] {
      const size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (!digits()) return fail("an unexpected character");
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) return fail("a bad number");
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return fail("a bad number");
    }
    const std::string copy(text_.substr(start, at_ - start));
    v.kind = JsonValue::Kind::kNumber;
    v.number = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(v.number)) return fail("a number out of range");
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  std::string problem_;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
    if (names[i] == key) return &values[i];
  }
  return nullptr;
}

std::optional<JsonValue> parseJson(std::string_view text, std::string& problem) {
  return Parser(text).document(problem);
}

std::optional<uint64_t> jsonUnsigned(const JsonValue& object, std::string_view key, uint64_t max) {
  const JsonValue* v = object.find(key);
  if (v == nullptr || v->kind != JsonValue::Kind::kNumber) return std::nullopt;
  const double d = v->number;
  if (d < 0 || d > static_cast<double>(max) || std::floor(d) != d) return std::nullopt;
  return static_cast<uint64_t>(d);
}

std::string jsonQuoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
