#include "dialogs/field_text.h"

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

uint32_t readUnsignedField(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(value);
}

std::string unsignedFieldText(uint32_t value) {
  return std::to_string(value);
}
