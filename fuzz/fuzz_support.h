#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "app/application.h"
#include "display/plot_surface.h"
#include "tests/app/fake_shell.h"

// A started program on the simulated room (virtual time: no waiting), with a fake shell and the
// main window's plot surface.
struct FuzzApp {
  FuzzApp();
  ~FuzzApp();
  FuzzApp(const FuzzApp&) = delete;
  FuzzApp& operator=(const FuzzApp&) = delete;

  Program program;
  FakeShell shell;
  std::unique_ptr<PlotSurface> surface;
  App app;
};

// A file of this process in the temporary folder, removed again when the object goes.
class ScratchFile {
 public:
  ScratchFile(std::string_view suffix, std::span<const uint8_t> bytes);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Takes values from the front of a fuzz input; past its end every value is 0.
class InputReader {
 public:
  explicit InputReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
  uint32_t u32() { return u16() | (uint32_t{u16()} << 16); }
  bool flag() { return (byte() & 1) != 0; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// The analyze window's picture at both ends of its start slider, each with the zoom and the
// amplification both at their lowest and both at their highest.
void drawAnalyzeAtExtremes(const SonarSettings& settings);
