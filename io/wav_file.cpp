#include "io/wav_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/read_fully.h"

namespace {

constexpr size_t kCanonicalHeaderBytes = 44;
// Enough for the RIFF header, a format chunk and a few small chunks before the data.
constexpr size_t kHeaderProbeBytes = 4096;

// Little-endian fields of the canonical header, written at their offsets.
void set16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

void set32(uint8_t* at, uint32_t v) {
  set16(at, v & 0xFFFFu);
  set16(at + 2, v >> 16);
}

uint32_t get16(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

uint32_t get32(const uint8_t* p) {
  return get16(p) | get16(p + 2) << 16;
}

std::string errnoText() {
  return std::strerror(errno);
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

std::string checkFormatChunk(const uint8_t* p, uint32_t size, PcmFormat& f) {
  if (size < 16) return "its format chunk is too short";
  if (get16(p) != 1) return "it is not PCM (format tag " + std::to_string(get16(p)) + ")";
  f.channels = static_cast<uint16_t>(get16(p + 2));
  f.samplesPerSec = get32(p + 4);
  f.bitsPerSample = static_cast<uint16_t>(get16(p + 14));
  if (f.channels != 1 && f.channels != 2) {
    return "it has " + std::to_string(f.channels) + " channels; 1 or 2 are supported";
  }
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) {
    return "it has " + std::to_string(f.bitsPerSample) + " bits per sample; 8 or 16 are supported";
  }
  if (f.samplesPerSec == 0) return "it declares a sample rate of 0 Hz";
  if (get16(p + 12) != f.frameBytes()) return "its block alignment does not match its format";
  return {};
}

// Walks the chunks of an image that may end before the file does (`fileBytes`).
std::string parseImage(std::span<const uint8_t> image, uint64_t fileBytes, WavPart part,
                       PcmWav& wav) {
  if (image.size() < 12 || std::memcmp(image.data(), "RIFF", 4) != 0 ||
      std::memcmp(image.data() + 8, "WAVE", 4) != 0) {
    return "it is not a WAV file";
  }
  bool haveFormat = false;
  uint64_t at = 12;
  while (at + 8 <= image.size()) {
    const uint8_t* chunk = image.data() + at;
    const uint32_t size = get32(chunk + 4);
    const uint64_t body = at + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (body + size > image.size()) return "its format chunk is cut short";
      if (std::string problem = checkFormatChunk(chunk + 8, size, wav.format); !problem.empty()) {
        return problem;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return "its data come before its format";
      wav.dataBytes = std::min<uint64_t>(size, fileBytes - body);
      if (wav.dataBytes != size) return "its data chunk is cut short";
      if (part == WavPart::kSamples) {
        if (body + size > image.size()) return "its data chunk is cut short";
        wav.bytes.assign(image.begin() + static_cast<ptrdiff_t>(body),
                         image.begin() + static_cast<ptrdiff_t>(body + size));
      }
      return {};
    }
    at = body + size + (size & 1u);  // chunks are padded to an even length
  }
  return haveFormat ? "it has no data chunk" : "it has no format chunk";
}

}  // namespace

std::string describePcmFormat(const PcmFormat& f) {
  return std::to_string(f.samplesPerSec) + " Hz, " + std::to_string(f.bitsPerSample) + " bits, " +
         std::to_string(f.channels) + (f.channels == 1 ? " channel" : " channels");
}

std::vector<uint8_t> wavImage(const PcmFormat& format, std::span<const uint8_t> samples) {
  const auto dataBytes = static_cast<uint32_t>(samples.size());
  std::vector<uint8_t> out(kCanonicalHeaderBytes + samples.size());
  uint8_t* h = out.data();
  std::memcpy(h, "RIFF", 4);
  set32(h + 4, 36 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  set32(h + 16, 16);
  set16(h + 20, 1);
  set16(h + 22, format.channels);
  set32(h + 24, format.samplesPerSec);
  set32(h + 28, format.samplesPerSec * format.frameBytes());
  set16(h + 32, format.frameBytes());
  set16(h + 34, format.bitsPerSample);
  std::memcpy(h + 36, "data", 4);
  set32(h + 40, dataBytes);
  if (!samples.empty()) std::memcpy(h + kCanonicalHeaderBytes, samples.data(), samples.size());
  return out;
}

std::string writeNewWavFile(const std::string& path, const PcmFormat& format,
                            std::span<const uint8_t> samples) {
  const std::vector<uint8_t> image = wavImage(format, samples);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot create " + path + ": " + errnoText();
  bool ok = writeAll(fd, image);
  std::string problem = ok ? std::string() : "cannot write " + path + ": " + errnoText();
  if (::close(fd) != 0 && ok) {
    ok = false;
    problem = "cannot write " + path + ": " + errnoText();
  }
  if (!ok) ::unlink(path.c_str());
  return problem;
}

std::string parsePcmWav(std::span<const uint8_t> image, WavPart part, PcmWav& wav) {
  wav = PcmWav{};
  return parseImage(image, image.size(), part, wav);
}

std::string readPcmWavFile(const std::string& path, uint64_t maxFileBytes, WavPart part,
                           PcmWav& wav) {
  wav = PcmWav{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return path + ": " + errnoText();
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) {
    problem = path + ": " + errnoText();
  } else if (!S_ISREG(st.st_mode)) {
    problem = path + " is not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > maxFileBytes) {
    problem = path + " is larger than a recording can be";
  }
  std::vector<uint8_t> image;
  if (problem.empty()) {
    const auto fileBytes = static_cast<uint64_t>(st.st_size);
    image.resize(part == WavPart::kSamples ? fileBytes
                                           : std::min<uint64_t>(fileBytes, kHeaderProbeBytes));
    const size_t got = readFully(fd, image.data(), image.size());
    image.resize(got);
    const std::string reason = parseImage(image, std::max<uint64_t>(got, fileBytes), part, wav);
    if (!reason.empty()) problem = path + ": " + reason;
  }
  ::close(fd);
  return problem;
}
