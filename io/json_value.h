#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A small JSON reader for the files the program keeps beside its recordings: whole documents of
// at most a few megabytes, nested at most kMaxJsonDepth deep. Numbers are read as doubles, which
// hold every integer the files carry exactly.

constexpr int kMaxJsonDepth = 32;

struct JsonValue {
  enum class Kind : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;  // an array's values
  // An object's members: names and values side by side (a pair of an incomplete type would not
  // compile everywhere).
  std::vector<std::string> names;
  std::vector<JsonValue> values;

  // The member of an object by name (the first of that name), or null.
  const JsonValue* find(std::string_view key) const;
};

// Parses one document (surrounding white space allowed, nothing else). On failure returns
// nothing and says why in `problem`.
std::optional<JsonValue> parseJson(std::string_view text, std::string& problem);

// An object's member as a whole number from 0 to `max`; nothing when it is missing, not a
// number or not whole, or out of range.
std::optional<uint64_t> jsonUnsigned(const JsonValue& object, std::string_view key, uint64_t max);

// A string in JSON's own quoting.
std::string jsonQuoted(std::string_view text);
