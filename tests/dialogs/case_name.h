#pragma once
#include <gtest/gtest.h>

#include <string>

// Names a table row after its `name` field.
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& row) {
  return row.param.name;
}
