#pragma once
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "engine/change_view.h"

// `--changes` and `--changes-time S` of sweep and render. Takes args[i] (and its value) when it
// is one of them: returns true and advances i; `problem` says what is wrong with a value.
inline bool readChangeOption(const std::vector<std::string>& args, size_t& i, ChangeView& view,
                             std::string& problem) {
  if (args[i] == "--changes") {
    view.on = true;
    return true;
  }
  if (args[i] != "--changes-time") return false;
  const std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
  double seconds = 0.0;
  const char* end = value.data() + value.size();
  const auto [stop, ec] = std::from_chars(value.data(), end, seconds);
  if (value.empty() || ec != std::errc() || stop != end || !std::isfinite(seconds) ||
      seconds < kMinChangeSeconds || seconds > kMaxChangeSeconds) {
    problem = "--changes-time needs seconds from " +
              std::to_string(kMinChangeSeconds).substr(0, 3) + " to " +
              std::to_string(static_cast<int>(kMaxChangeSeconds)) + ", got '" + value + "'";
    return true;
  }
  view.timeConstantSeconds = seconds;
  ++i;
  return true;
}
