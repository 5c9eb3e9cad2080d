#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Every number a dialog field holds is an unsigned decimal. Reading is forgiving the way the
// settings dialogs have always been: surrounding blanks are ignored, and an empty field, text
// that is not all digits, or a number above 4294967295 reads as 0. Range checks are each
// dialog's own business.
uint32_t readUnsignedField(std::string_view text);

// The text a field shows for a value (always unsigned: a negative setting shows wrapped).
std::string unsignedFieldText(uint32_t value);
