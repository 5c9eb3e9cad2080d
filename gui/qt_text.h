#pragma once
#include <QString>
#include <string_view>

// The program's texts are UTF-8; Qt wants them as QString.
inline QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
