#include "resources/command_layout.h"

namespace {

// In the order of the toolbar's image indices.
constexpr std::array<std::string_view, kToolbarImageCount> kImagePaths{
    ":/toolbar/single_chirp.svg", ":/toolbar/start.svg",   ":/toolbar/pause.svg",
    ":/toolbar/stop.svg",         ":/toolbar/clear.svg",   ":/toolbar/linear_mode.svg",
    ":/toolbar/angular_mode.svg", ":/toolbar/analyze.svg", ":/toolbar/empty.svg",
    ":/toolbar/change_view.svg",
};

}  // namespace

std::string_view toolbarImagePath(int image) {
  if (image < 0 || image >= kToolbarImageCount) return {};
  return kImagePaths[static_cast<size_t>(image)];
}
