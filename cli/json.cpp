#include "cli/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

std::string jsonEscape(std::string_view s) {
  std::string r;
  for (const char c : s) {
    switch (c) {
      case '"':
        r += "\\\"";
        break;
      case '\\':
        r += "\\\\";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      case '\t':
        r += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          r += buf;
        } else {
          r += c;
        }
    }
  }
  return r;
}

void JsonWriter::key(std::string_view k) {
  if (needComma_.back()) out_ += ',';
  needComma_.back() = true;
  if (!k.empty()) {
    out_ += '"';
    out_ += jsonEscape(k);
    out_ += "\":";
  }
}

void JsonWriter::beginObject(std::string_view k) {
  key(k);
  out_ += '{';
  needComma_.push_back(false);
}

void JsonWriter::endObject() {
  needComma_.pop_back();
  out_ += '}';
}

void JsonWriter::beginArray(std::string_view k) {
  key(k);
  out_ += '[';
  needComma_.push_back(false);
}

void JsonWriter::endArray() {
  needComma_.pop_back();
  out_ += ']';
}

void JsonWriter::number(std::string_view k, int64_t value) {
  key(k);
  out_ += std::to_string(value);
}

void JsonWriter::number(std::string_view k, uint64_t value) {
  key(k);
  out_ += std::to_string(value);
}

void JsonWriter::real(std::string_view k, double value, int decimals) {
  key(k);
  if (!std::isfinite(value)) {
    out_ += "null";
    return;
  }
  // std::to_chars writes the decimal point whatever the C locale says (a comma under de_DE).
  char buf[512];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                                       std::clamp(decimals, 0, 17));
  if (ec != std::errc()) {
    out_ += "null";
    return;
  }
  out_.append(buf, end);
}

void JsonWriter::boolean(std::string_view k, bool value) {
  key(k);
  out_ += value ? "true" : "false";
}

void JsonWriter::string(std::string_view k, std::string_view value) {
  key(k);
  out_ += '"';
  out_ += jsonEscape(value);
  out_ += '"';
}
