#include "cli/wav_io.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "io/checked_save.h"

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

bool supportedRate(int rate) {
  return rate == 8000 || rate == 11025 || rate == 22050 || rate == 44100;
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

// Whether the file starts as a canonical WAV whose format chunk gives a rate of 0 Hz, which
// libsndfile refuses with a message about its own structures.
bool declaresNoRate(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  uint8_t head[28] = {};
  if (!f || std::fread(head, 1, sizeof head, f.get()) != sizeof head) return false;
  const bool canonical = std::memcmp(head, "RIFF", 4) == 0 &&
                         std::memcmp(head + 8, "WAVE", 4) == 0 &&
                         std::memcmp(head + 12, "fmt ", 4) == 0;
  return canonical && head[24] == 0 && head[25] == 0 && head[26] == 0 && head[27] == 0;
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
    if (declaresNoRate(path)) return path + " declares a sample rate of 0 Hz";
    return "cannot read " + path + ": " + sf_strerror(nullptr);
  }
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  // WAVE_FORMAT_EXTENSIBLE is how many programs write PCM with more than 2 channels or more
  // than 16 bits, and some write it for every file.
  const bool wave = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX;
  if (!wave || (sub != SF_FORMAT_PCM_U8 && sub != SF_FORMAT_PCM_16)) {
    return path + " is not an 8- or 16-bit PCM WAV file";
  }
  if (info.frames <= 0) return path + " holds no samples";
  if (info.channels != 1 && info.channels != 2) {
    return path + " has " + std::to_string(info.channels) + " channels; 1 or 2 are supported";
  }
  if (!supportedRate(info.samplerate)) {
    return path + " runs at " + std::to_string(info.samplerate) +
           " Hz; 8000, 11025, 22050 or 44100 are supported";
  }
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
