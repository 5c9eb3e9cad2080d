#pragma once
#include <gtest/gtest.h>

#include <string>

// Names the cases of a parameter table after their `name` field.
template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
