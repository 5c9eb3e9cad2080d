#include "cli/settings_fields.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>

namespace {

struct Field {
  std::string_view name;
  int64_t min, max;
  std::function<int64_t(const SonarSettings&)> get;
  std::function<void(SonarSettings&, int64_t)> set;
};

template <typename T>
Field plain(std::string_view name, T SonarSettings::*member, int64_t min = 0) {
  return Field{name, min, static_cast<int64_t>(std::numeric_limits<T>::max()),
               [member](const SonarSettings& s) { return static_cast<int64_t>(s.*member); },
               [member](SonarSettings& s, int64_t v) { s.*member = static_cast<T>(v); }};
}

template <typename T>
Field format(std::string_view name, T WaveFormat::*member) {
  return Field{
      name, 0, static_cast<int64_t>(std::numeric_limits<T>::max()),
      [member](const SonarSettings& s) { return static_cast<int64_t>(s.waveFormat.*member); },
      [member](SonarSettings& s, int64_t v) {
        s.waveFormat.*member = static_cast<T>(v);
        recomputeDerivedFormat(s.waveFormat);
      }};
}

const std::vector<Field>& fields() {
  static const std::vector<Field> table = [] {
    std::vector<Field> t{
        plain("startFrequency", &SonarSettings::startFrequency),
        plain("endFrequency", &SonarSettings::endFrequency),
        plain("chirpTime", &SonarSettings::chirpTime),
        plain("recordTime", &SonarSettings::recordTime),
        plain("offsetBytes", &SonarSettings::offsetBytes),
        plain("deltaOffsetBytes", &SonarSettings::deltaOffsetBytes),
        plain("clockMultiplier", &SonarSettings::clockMultiplier),
        plain("tuneScale", &SonarSettings::tuneScale),
        plain("cutOff", &SonarSettings::cutOff, INT32_MIN),
        plain("amplification", &SonarSettings::amplification, INT32_MIN),
        plain("gain", &SonarSettings::gain),
        plain("gainEnabled", &SonarSettings::gainEnabled),
        plain("medium", &SonarSettings::medium),
        plain("chirpShape", &SonarSettings::chirpShape),
        plain("displayMode", &SonarSettings::displayMode),
        format("channels", &WaveFormat::channels),
        format("bitsPerSample", &WaveFormat::bitsPerSample),
        format("samplesPerSec", &WaveFormat::samplesPerSec),
    };
    // The gain table follows the gain, as the scale dialog builds it.
    for (Field& f : t) {
      if (f.name == "gain") {
        f.set = [](SonarSettings& s, int64_t v) {
          s.gain = static_cast<int32_t>(v);
          rebuildGainTable(s);
        };
      }
    }
    return t;
  }();
  return table;
}

const Field* find(std::string_view name) {
  for (const Field& f : fields()) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

}  // namespace

std::string setSettingsField(SonarSettings& settings, std::string_view assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string_view::npos) {
    return "expected FIELD=VALUE, got '" + std::string(assignment) + "'";
  }
  const std::string_view name = assignment.substr(0, eq);
  const std::string_view text = assignment.substr(eq + 1);
  const Field* field = find(name);
  if (field == nullptr) return "unknown field '" + std::string(name) + "'";
  int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (!text.empty() && *first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last) {
    return "field '" + std::string(name) + "' needs a decimal integer, got '" + std::string(text) +
           "'";
  }
  if (value < field->min || value > field->max) {
    return "field '" + std::string(name) + "' takes " + std::to_string(field->min) + " to " +
           std::to_string(field->max) + ", got " + std::string(text);
  }
  field->set(settings, value);
  return {};
}

const std::vector<std::string_view>& settingsFieldNames() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> n;
    for (const Field& f : fields()) n.push_back(f.name);
    return n;
  }();
  return names;
}

int64_t settingsFieldValue(const SonarSettings& settings, std::string_view name) {
  const Field* f = find(name);
  return f ? f->get(settings) : 0;
}
