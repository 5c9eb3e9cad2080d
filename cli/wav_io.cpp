#include "cli/wav_io.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "app/header_ranges.h"
#include "io/checked_save.h"

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

bool supportedRate(int64_t rate) {
  return std::find(kRatesByCode.begin(), kRatesByCode.end(), rate) != kRatesByCode.end();
}

std::string supportedRates() {
  std::string list;
  for (size_t i = 0; i < kRatesByCode.size(); ++i) {
    list += std::to_string(kRatesByCode[i]) + (i + 2 < kRatesByCode.size()   ? ", "
                                               : i + 1 < kRatesByCode.size() ? " or "
                                                                             : " Hz");
  }
  return list;
}

std::string rateProblem(const std::string& path, int64_t rate) {
  return path + " runs at " + std::to_string(rate) + " Hz; " + supportedRates() + " are supported";
}

}  // namespace

namespace {

// A growing memory file for libsndfile, so the WAV is made in memory and saved by CheckedSave.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  sf_count_t position = 0;
};

sf_count_t memoryLength(void* user) {
  return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
  auto& m = *static_cast<MemoryFile*>(user);
  const sf_count_t base = whence == SEEK_CUR   ? m.position
                          : whence == SEEK_END ? static_cast<sf_count_t>(m.bytes.size())
                                               : 0;
  m.position = std::max<sf_count_t>(0, base + offset);
  return m.position;
}

sf_count_t memoryRead(void* data, sf_count_t count, void* user) {
  auto& m = *static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(m.bytes.size());
  const sf_count_t n = std::clamp<sf_count_t>(size - m.position, 0, count);
  std::memcpy(data, m.bytes.data() + m.position, static_cast<size_t>(n));
  m.position += n;
  return n;
}

sf_count_t memoryWrite(const void* data, sf_count_t count, void* user) {
  auto& m = *static_cast<MemoryFile*>(user);
  const auto end = static_cast<size_t>(m.position + count);
  if (end > m.bytes.size()) m.bytes.resize(end);
  std::memcpy(m.bytes.data() + m.position, data, static_cast<size_t>(count));
  m.position += count;
  return count;
}

sf_count_t memoryTell(void* user) {
  return static_cast<MemoryFile*>(user)->position;
}

// The rate a canonical WAV's format chunk declares, where the file starts as one. libsndfile
// refuses a rate it cannot hold (0, or above 2^31) with a message about its own structures.
std::optional<uint32_t> declaredRate(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  uint8_t head[28] = {};
  if (!f || std::fread(head, 1, sizeof head, f.get()) != sizeof head) return std::nullopt;
  const bool canonical = (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
                         std::memcmp(head + 8, "WAVE", 4) == 0 &&
                         std::memcmp(head + 12, "fmt ", 4) == 0;
  if (!canonical) return std::nullopt;
  return uint32_t{head[24]} | uint32_t{head[25]} << 8 | uint32_t{head[26]} << 16 |
         uint32_t{head[27]} << 24;
}

}  // namespace

std::string writeWav(const std::string& path, const WaveFormat& format,
                     std::span<const uint8_t> bytes, std::span<const std::string> inputs) {
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
    return "a WAV file needs 8 or 16 bits per sample, the format has " +
           std::to_string(format.bitsPerSample);
  }
  if (format.channels == 0 || format.samplesPerSec == 0) {
    return "the wave format has no channels or no sample rate";
  }
  SF_INFO info{};
  info.samplerate = static_cast<int>(format.samplesPerSec);
  info.channels = format.channels;
  info.format = SF_FORMAT_WAV | (format.bitsPerSample == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
  SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
  MemoryFile memory;
  SndfileHandle file(sf_open_virtual(&io, SFM_WRITE, &info, &memory));
  if (!file) return std::string("cannot make the WAV: ") + sf_strerror(nullptr);
  const uint64_t frameBytes = static_cast<uint64_t>(format.channels) * format.bitsPerSample / 8;
  const auto whole = static_cast<sf_count_t>(bytes.size() / frameBytes * frameBytes);
  const bool written = sf_write_raw(file.get(), bytes.data(), whole) == whole;
  file.reset();  // writes the final header
  if (!written) return "cannot make the WAV";
  return saveBytesChecked(path, memory.bytes, inputs);
}

std::string readWav(const std::string& path, uint64_t maxBytes, WavRecording& recording) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "cannot read " + path + ": " + std::strerror(errno);
  // A FIFO or a device would keep the reader waiting for bytes that may never come.
  if (!S_ISREG(st.st_mode)) return "cannot read " + path + ": not a regular file";
  SF_INFO info{};
  SndfileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    if (const auto rate = declaredRate(path); rate == 0u) {
      return path + " declares a sample rate of 0 Hz; " + supportedRates() + " are supported";
    } else if (rate && !supportedRate(*rate)) {
      return rateProblem(path, *rate);
    }
    const std::string reason = sf_strerror(nullptr);
    // libsndfile's own structures mean nothing to the user.
    if (reason.rfind("Internal error", 0) == 0) {
      return "cannot read " + path +
             ": its header describes no sound an 8- or 16-bit PCM WAV "
             "file can hold";
    }
    return "cannot read " + path + ": " + reason;
  }
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  // WAVE_FORMAT_EXTENSIBLE is how many programs write PCM with more than 2 channels or more
  // than 16 bits, and some write it for every file; RF64 is the WAV of recorders that may go
  // beyond 4 GB.
  const bool wave = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
  if (!wave) return path + " is not a WAV file; analyze reads 8- or 16-bit PCM WAV files";
  if (sub != SF_FORMAT_PCM_U8 && sub != SF_FORMAT_PCM_16) {
    return path + " holds no 8- or 16-bit PCM samples; analyze reads only those";
  }
  if (info.frames <= 0) return path + " holds no samples";
  if (info.channels != 1 && info.channels != 2) {
    return path + " has " + std::to_string(info.channels) + " channels; 1 or 2 are supported";
  }
  if (!supportedRate(info.samplerate)) return rateProblem(path, info.samplerate);
  WaveFormat& f = recording.format;
  f = WaveFormat{};
  f.formatTag = 1;
  f.channels = static_cast<uint16_t>(info.channels);
  f.samplesPerSec = static_cast<uint32_t>(info.samplerate);
  f.bitsPerSample = sub == SF_FORMAT_PCM_U8 ? 8 : 16;
  recomputeDerivedFormat(f);
  const uint64_t available = static_cast<uint64_t>(info.frames) * f.blockAlign;
  recording.bytes.assign(std::min(available, maxBytes), 0);
  const auto wanted = static_cast<sf_count_t>(recording.bytes.size());
  const sf_count_t got = sf_read_raw(file.get(), recording.bytes.data(), wanted);
  if (got < 0) return "cannot read the samples of " + path;
  recording.bytes.resize(static_cast<size_t>(got));
  return {};
}
