#pragma once
#include <array>
#include <string_view>

// The window's fixed resources: its names, the menu with its five pop-ups and the toolbar. The
// identifiers are the command identifiers the application logic dispatches on; the texts are
// shown exactly as written here, spelling included.

inline constexpr std::string_view kClassName = "Mervane";
inline constexpr std::string_view kWindowTitle = "Mervane Application";

inline constexpr int kScanTimerId = 1500;
inline constexpr int kScanTimerPeriodMs = 25;
inline constexpr int kToolbarId = 2000;

// One row of a pop-up; identifier 0 is a separator.
struct MenuItemSpec {
  int id = 0;
  std::string_view label;

  constexpr bool isSeparator() const { return id == 0; }
};

inline constexpr MenuItemSpec kMenuSeparator{};

inline constexpr std::array kFileItems{
    MenuItemSpec{199, "Open"},
    MenuItemSpec{202, "Save"},
    kMenuSeparator,
    MenuItemSpec{300, "Exit"},
};
inline constexpr std::array kAnalyzeItems{
    MenuItemSpec{247, "Replot"},
    kMenuSeparator,
    MenuItemSpec{207, "Make chirp"},
    MenuItemSpec{204, "Pley rec. buffer"},
    MenuItemSpec{214, "Auto correlate"},
    MenuItemSpec{225, "Post. Proc."},
    kMenuSeparator,
    MenuItemSpec{221, "Analyze window"},
    MenuItemSpec{246, "Ruler"},
    kMenuSeparator,
};
inline constexpr std::array kSettingsItems{
    MenuItemSpec{220, "Set out signal"},
    MenuItemSpec{229, "Set wave format"},
    MenuItemSpec{244, "Set offset"},
    MenuItemSpec{245, "Set scale"},
    kMenuSeparator,
    MenuItemSpec{243, "Use recorded chirp"},
    kMenuSeparator,
    MenuItemSpec{242, "Info"},
};
inline constexpr std::array kTestsItems{
    MenuItemSpec{233, "Check recording"},
    MenuItemSpec{227, "Check audio system "},  // the trailing blank belongs to the label
    MenuItemSpec{248, "Check play"},
    MenuItemSpec{241, "Search offset"},
};
inline constexpr std::array kHelpItems{
    MenuItemSpec{212, "About"},
    MenuItemSpec{234, "Help"},
};

// A menu-bar button and the pop-up it opens. The button's own identifier only names the
// button; it is never dispatched (226 would otherwise stop the sonar).
struct MenuSpec {
  int barId = 0;
  std::string_view title;
  const MenuItemSpec* items = nullptr;
  size_t itemCount = 0;
};

template <size_t N>
constexpr MenuSpec makeMenu(int barId, std::string_view title,
                            const std::array<MenuItemSpec, N>& items) {
  return MenuSpec{barId, title, items.data(), N};
}

inline constexpr std::array kMenuBar{
    makeMenu(401, "File", kFileItems),         makeMenu(226, "Analyze", kAnalyzeItems),
    makeMenu(217, "Settings", kSettingsItems), makeMenu(230, "Tests", kTestsItems),
    makeMenu(404, "Help", kHelpItems),
};

enum class ToolStyle { kButton, kSeparator, kCheckGroup };

// One toolbar entry; image is an index into the toolbar images, -1 for a separator.
struct ToolButtonSpec {
  int image = -1;
  int command = 0;
  ToolStyle style = ToolStyle::kSeparator;
  bool checked = false;
  std::string_view toolTip;
};

inline constexpr ToolButtonSpec kToolSeparator{};

inline constexpr std::array kToolbar{
    ToolButtonSpec{0, 207, ToolStyle::kButton, false, "Single chirp"},
    ToolButtonSpec{1, 201, ToolStyle::kButton, false, "Start sonar"},
    ToolButtonSpec{2, 235, ToolStyle::kButton, false, "Pause sonar"},
    ToolButtonSpec{3, 226, ToolStyle::kButton, false, "Stop sonar"},
    ToolButtonSpec{4, 238, ToolStyle::kButton, false, "Clear screen"},
    kToolSeparator,
    ToolButtonSpec{5, 239, ToolStyle::kCheckGroup, true, "Linear mode"},
    ToolButtonSpec{6, 240, ToolStyle::kCheckGroup, false, "Angular mode"},
    kToolSeparator,
    ToolButtonSpec{7, 236, ToolStyle::kButton, false, "Analyze window"},
    ToolButtonSpec{8, 237, ToolStyle::kButton, false, "empty"},
    kToolSeparator,
};

inline constexpr int kToolbarImageCount = 9;
inline constexpr int kToolbarImageSize = 18;  // [px] the size the images are designed for

// Qt resource path of a toolbar image (":/toolbar/..."), empty for an index out of range.
std::string_view toolbarImagePath(int image);

// Qt resource path of the help document.
inline constexpr std::string_view kHelpResourcePath = ":/help/help.html";
