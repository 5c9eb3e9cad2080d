#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// A small streaming JSON writer: enough for flat objects, lists of numbers and lists of objects.
// Keys and string values are escaped; numbers are written as given.
class JsonWriter {
 public:
  void beginObject(std::string_view key = {});
  void endObject();
  void beginArray(std::string_view key = {});
  void endArray();
  void number(std::string_view key, int64_t value);
  void number(std::string_view key, uint64_t value);
  void number(std::string_view key, int32_t value) { number(key, static_cast<int64_t>(value)); }
  void number(std::string_view key, uint32_t value) { number(key, static_cast<uint64_t>(value)); }
  void real(std::string_view key, double value, int decimals = 6);
  void boolean(std::string_view key, bool value);
  void string(std::string_view key, std::string_view value);
  template <typename T>
  void numbers(std::string_view key, std::span<const T> values) {
    beginArray(key);
    for (const T& v : values) {
      if constexpr (std::is_floating_point_v<T>) {
        real({}, v);
      } else if constexpr (std::is_signed_v<T>) {
        number({}, static_cast<int64_t>(v));
      } else {
        number({}, static_cast<uint64_t>(v));
      }
    }
    endArray();
  }
  const std::string& text() const { return out_; }

 private:
  void key(std::string_view k);
  std::string out_;
  std::vector<bool> needComma_{false};
};

std::string jsonEscape(std::string_view s);
