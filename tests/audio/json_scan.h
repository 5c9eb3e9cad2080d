#pragma once
#include <string>
#include <vector>

// Every integer that follows "key": in a JSON text, in order (enough for the flat reports of
// the command line).
inline std::vector<long> numbersAfter(const std::string& json, const std::string& key) {
  std::vector<long> values;
  const std::string marker = "\"" + key + "\":";
  for (size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) {
    values.push_back(std::stol(json.substr(at + marker.size(), 24)));
  }
  return values;
}
