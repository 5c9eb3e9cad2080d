#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "fuzz/drivers.h"

namespace {

constexpr size_t kMostWords = 24;
constexpr size_t kMostDigits = 2;  // counts and columns up to 99: each input stays quick

// The words of a command line, NUL-separated in the input. Kept to what is safe and quick to
// run anywhere: no path leaves the scratch folder, no real sound device, no long runs.
std::vector<std::string> wordsOf(std::span<const uint8_t> bytes) {
  std::vector<std::string> words(1);
  for (const uint8_t b : bytes) {
    if (b == 0) {
      if (words.size() == kMostWords) break;
      words.emplace_back();
    } else {
      words.back() += static_cast<char>(b);
    }
  }
  for (std::string& w : words) {
    if (w.find('/') != std::string::npos) w = "scratch";
    if (w == "portaudio" || w == "--backend=portaudio") w = "sim";
    if (w == "devices") w = "settings";
    if (!w.empty() && w.find_first_not_of("0123456789") == std::string::npos &&
        w.size() > kMostDigits) {
      w.resize(kMostDigits);
    }
  }
  return words;
}

}  // namespace

void runCliOptionsInput(std::span<const uint8_t> bytes) {
  const std::vector<std::string> words = wordsOf(bytes);
  // Whatever the options save lands in a folder of this input's own, removed afterwards.
  std::string folder = (std::filesystem::temp_directory_path() / "mervane-fuzz-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return;
  const std::filesystem::path previous = std::filesystem::current_path();
  if (chdir(folder.c_str()) == 0) {
    std::ostringstream out, err;
    runCli(words, out, err, CliEnvironment{});
    std::filesystem::current_path(previous);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
