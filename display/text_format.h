#pragma once
#include <string>

// printf-style formatting into a string of whatever length the result needs; the display's texts
// are the program's own printf formats, kept as they are.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
