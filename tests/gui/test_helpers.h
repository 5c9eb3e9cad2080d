#pragma once
#include <gtest/gtest.h>

#include <QString>
#include <ostream>
#include <string>

// Names the cases of a parameter table after their `name` field.
template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// Failure messages show texts, not their bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
