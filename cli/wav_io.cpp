#include "cli/wav_io.h"

#include <sndfile.h>

#include <cstdio>
#include <memory>

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

bool supportedRate(int rate) {
  return rate == 8000 || rate == 11025 || rate == 22050 || rate == 44100;
}

}  // namespace

std::string writeWav(const std::string& path, const WaveFormat& format,
                     std::span<const uint8_t> bytes) {
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
  const std::string temporary = path + ".part";
  SndfileHandle file(sf_open(temporary.c_str(), SFM_WRITE, &info));
  if (!file) return "cannot create " + path + ": " + sf_strerror(nullptr);
  const uint64_t frameBytes = static_cast<uint64_t>(format.channels) * format.bitsPerSample / 8;
  const auto whole = static_cast<sf_count_t>(bytes.size() / frameBytes * frameBytes);
  const bool written = sf_write_raw(file.get(), bytes.data(), whole) == whole;
  file.reset();
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return "cannot write " + path;
  }
  return {};
}

std::string readWav(const std::string& path, uint64_t maxBytes, WavRecording& recording) {
  SF_INFO info{};
  SndfileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) return "cannot read " + path + ": " + sf_strerror(nullptr);
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  if (major != SF_FORMAT_WAV || (sub != SF_FORMAT_PCM_U8 && sub != SF_FORMAT_PCM_16)) {
    return path + " is not an 8- or 16-bit PCM WAV file";
  }
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
