#include "app/header_ranges.h"

#include <algorithm>

namespace {

constexpr uint32_t kMaxFrequency = 1000000;  // [Hz] far above every rate's Nyquist frequency

// One table for Open, `--set` and the README. The frequencies' four slots could carry any 32-bit
// value, but no chirp above a megahertz was ever meant; a start frequency of 0xFFFFFFFF is
// damage. Gain and cut-off travel as one byte, so their whole byte is the range (the scale
// dialog's gains above 255 would come back cut).
constexpr HeaderRange kRanges[] = {
    {"startFrequency", "the start frequency", 0, kMaxFrequency, " Hz",
     [](const SonarSettings& s) -> int64_t { return s.startFrequency; },
     [](SonarSettings& s, int64_t v) { s.startFrequency = static_cast<uint32_t>(v); }},
    {"endFrequency", "the end frequency", 0, kMaxFrequency, " Hz",
     [](const SonarSettings& s) -> int64_t { return s.endFrequency; },
     [](SonarSettings& s, int64_t v) { s.endFrequency = static_cast<uint32_t>(v); }},
    {"chirpTime", "the chirp time", 0, 65535, " us",
     [](const SonarSettings& s) -> int64_t { return s.chirpTime; },
     [](SonarSettings& s, int64_t v) { s.chirpTime = static_cast<uint32_t>(v); }},
    {"recordTime", "the record time", 0, 65535, " ms",
     [](const SonarSettings& s) -> int64_t { return s.recordTime; },
     [](SonarSettings& s, int64_t v) { s.recordTime = static_cast<uint32_t>(v); }},
    {"offsetBytes", "the offset", 1, 32000, " bytes",
     [](const SonarSettings& s) -> int64_t { return s.offsetBytes; },
     [](SonarSettings& s, int64_t v) { s.offsetBytes = static_cast<uint32_t>(v); }},
    {"deltaOffsetBytes", "the delta offset", 1, 32000, " bytes",
     [](const SonarSettings& s) -> int64_t { return s.deltaOffsetBytes; },
     [](SonarSettings& s, int64_t v) { s.deltaOffsetBytes = static_cast<uint32_t>(v); }},
    {"clockMultiplier", "the clock interval multiplier", 1, 255, "",
     [](const SonarSettings& s) -> int64_t { return s.clockMultiplier; },
     [](SonarSettings& s, int64_t v) { s.clockMultiplier = static_cast<uint32_t>(v); }},
    {"tuneScale", "the tune scale", 1, 10000, "",
     [](const SonarSettings& s) -> int64_t { return s.tuneScale; },
     [](SonarSettings& s, int64_t v) { s.tuneScale = static_cast<uint32_t>(v); }},
    {"cutOff", "the cut-off", 1, 255, "",
     [](const SonarSettings& s) -> int64_t { return s.cutOff; },
     [](SonarSettings& s, int64_t v) { s.cutOff = static_cast<int32_t>(v); }},
    {"gain", "the gain", 0, 255, "", [](const SonarSettings& s) -> int64_t { return s.gain; },
     [](SonarSettings& s, int64_t v) {
       s.gain = static_cast<int32_t>(v);
       rebuildGainTable(s);
     }},
    {"gainEnabled", "the gain switch", 0, 1, "",
     [](const SonarSettings& s) -> int64_t { return s.gainEnabled; },
     [](SonarSettings& s, int64_t v) { s.gainEnabled = static_cast<uint8_t>(v); }},
    {"medium", "the medium", kAir, kGranite, "",
     [](const SonarSettings& s) -> int64_t { return s.medium; },
     [](SonarSettings& s, int64_t v) { s.medium = static_cast<int8_t>(v); }},
    {"displayMode", "the display mode", 0, 255, "",
     [](const SonarSettings& s) -> int64_t { return s.displayMode; },
     [](SonarSettings& s, int64_t v) { s.displayMode = static_cast<uint8_t>(v); }},
    {"channels", "the channel count", 1, 2, "",
     [](const SonarSettings& s) -> int64_t { return s.waveFormat.channels; },
     [](SonarSettings& s, int64_t v) {
       s.waveFormat.channels = static_cast<uint16_t>(v);
       recomputeDerivedFormat(s.waveFormat);
     }},
    {"bitsPerSample", "the sample size", 8, 16, " bits",
     [](const SonarSettings& s) -> int64_t { return s.waveFormat.bitsPerSample; },
     [](SonarSettings& s, int64_t v) {
       s.waveFormat.bitsPerSample = static_cast<uint16_t>(v);
       recomputeDerivedFormat(s.waveFormat);
     }},
    {"samplesPerSec", "the sample rate", kRatesByCode.front(), kRatesByCode.back(), " Hz",
     [](const SonarSettings& s) -> int64_t { return s.waveFormat.samplesPerSec; },
     [](SonarSettings& s, int64_t v) {
       s.waveFormat.samplesPerSec = static_cast<uint32_t>(v);
       recomputeDerivedFormat(s.waveFormat);
     }},
};

std::string rateList() {
  std::string list;
  for (size_t i = 0; i < kRatesByCode.size(); ++i) {
    if (i > 0) list += i + 1 < kRatesByCode.size() ? ", " : " or ";
    list += std::to_string(kRatesByCode[i]);
  }
  return list + " Hz";
}

// Within a range's ends, the sample size and the rate take only the values that exist.
std::string acceptedText(const HeaderRange& r) {
  if (r.field == "bitsPerSample") return "8 or 16 bits";
  if (r.field == "samplesPerSec") return rateList();
  return std::to_string(r.min) + " to " + std::to_string(r.max) + std::string(r.unit);
}

bool takes(const HeaderRange& r, int64_t v) {
  if (v < r.min || v > r.max) return false;
  if (r.field == "bitsPerSample") return v == 8 || v == 16;
  if (r.field == "samplesPerSec") {
    return std::find(kRatesByCode.begin(), kRatesByCode.end(), v) != kRatesByCode.end();
  }
  return true;
}

enum class SlotKind { kByte, kSignedByte };

struct SlotRun {
  uint32_t first, count;
  SlotKind kind;
  std::string_view what;
};

// The words Save writes: one byte of a wider value (0 to 255), or a setting's low byte widened
// as a signed byte (-128 to 127).
constexpr SlotRun kSlots[] = {
    {0, 1, SlotKind::kSignedByte, "the medium"},
    {1, 1, SlotKind::kByte, "the display mode"},
    {3, 2, SlotKind::kByte, "the record time"},
    {7, 2, SlotKind::kByte, "the chirp time"},
    {10, 4, SlotKind::kByte, "the start frequency"},
    {20, 4, SlotKind::kByte, "the end frequency"},
    {30, 2, SlotKind::kByte, "the offset"},
    {34, 2, SlotKind::kByte, "the delta offset"},
    {37, 2, SlotKind::kByte, "the tune scale"},
    {40, 1, SlotKind::kSignedByte, "the scan column"},
    {50, 1, SlotKind::kSignedByte, "the clock interval multiplier"},
    {51, 1, SlotKind::kSignedByte, "the cut-off"},
    {53, 1, SlotKind::kSignedByte, "the gain switch"},
    {54, 1, SlotKind::kSignedByte, "the gain"},
    {100, 1, SlotKind::kSignedByte, "the channel count"},
    {101, 1, SlotKind::kSignedByte, "the sample size"},
};
constexpr uint32_t kRateCodeSlot = 102;

}  // namespace

std::span<const HeaderRange> headerRanges() {
  return kRanges;
}

const HeaderRange* outOfRange(const SonarSettings& s) {
  for (const HeaderRange& r : kRanges) {
    if (!takes(r, r.value(s))) return &r;
  }
  return nullptr;
}

std::string acceptedValues(const HeaderRange& range) {
  return acceptedText(range);
}

std::string rangeProblem(const SonarSettings& s) {
  const HeaderRange* r = outOfRange(s);
  if (r == nullptr) return {};
  return std::string(r->what) + " is " + std::to_string(r->value(s)) + std::string(r->unit) +
         ", not " + acceptedText(*r);
}

std::string slotProblem(const ScanHistory& h) {
  for (const SlotRun& run : kSlots) {
    for (uint32_t slot = run.first; slot < run.first + run.count; ++slot) {
      const int32_t w = h.at(0, slot);
      const bool fits =
          run.kind == SlotKind::kByte ? (w >= 0 && w <= 255) : (w >= -128 && w <= 127);
      if (!fits) {
        return "header slot " + std::to_string(slot) + " (" + std::string(run.what) + ") holds " +
               std::to_string(w) + ", which no version saves (" +
               (run.kind == SlotKind::kByte ? "0 to 255" : "a byte, -128 to 127") + ")";
      }
    }
  }
  const int32_t code = h.at(0, kRateCodeSlot);
  if (code < 0 || code > static_cast<int32_t>(kRatesByCode.size())) {
    return "the rate code is " + std::to_string(code) + ", not 1 to " +
           std::to_string(kRatesByCode.size()) + " (" + rateList() + ") or 0 (no rate saved)";
  }
  return {};
}
