#pragma once
#include <array>
#include <string_view>

#include "app/command_id.h"

// The window's fixed resources: its names, the menu with its five pop-ups and the toolbar. The
// identifiers are the command identifiers the application logic dispatches on; the texts are
// shown exactly as written here, spelling included.

inline constexpr std::string_view kClassName = "Mervane";
inline constexpr std::string_view kWindowTitle = "Mervane Application";

inline constexpr int kScanTimerId = 1500;
inline constexpr int kScanTimerPeriodMs = 25;
inline constexpr int kToolbarId = 2000;

// One row of a pop-up; a row without a command (value 0) is a separator. `shortcut` is the
// usual desktop key for the command, in the portable text of a key sequence ("Ctrl+O"), empty
// for none.
struct MenuItemSpec {
  CommandId id{};
  std::string_view label;
  std::string_view shortcut{};

  constexpr bool isSeparator() const { return id == CommandId{}; }
};

inline constexpr MenuItemSpec kMenuSeparator{};

inline constexpr std::array kFileItems{
    MenuItemSpec{CommandId::kOpen, "Open", "Ctrl+O"},
    MenuItemSpec{CommandId::kSave, "Save", "Ctrl+S"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kExit, "Exit", "Ctrl+Q"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kExportPicture, "Export picture..."},
    MenuItemSpec{CommandId::kExportDistances, "Export distances..."},
};
inline constexpr std::array kAnalyzeItems{
    MenuItemSpec{CommandId::kReplot, "Replot"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kSingleChirp, "Make chirp"},
    MenuItemSpec{CommandId::kPlayRecordBuffer, "Pley rec. buffer"},
    MenuItemSpec{CommandId::kAutoCorrelate, "Auto correlate"},
    MenuItemSpec{CommandId::kPostProcessing, "Post. Proc."},
    kMenuSeparator,
    MenuItemSpec{CommandId::kAnalyzeWindow, "Analyze window"},
    MenuItemSpec{CommandId::kRuler, "Ruler"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kChangeView, "Change view"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kTrackEcho, "Track echo..."},
};
inline constexpr std::array kSettingsItems{
    MenuItemSpec{CommandId::kSetOutSignal, "Set out signal"},
    MenuItemSpec{CommandId::kSetWaveFormat, "Set wave format"},
    MenuItemSpec{CommandId::kSetOffset, "Set offset"},
    MenuItemSpec{CommandId::kSetScale, "Set scale"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kUseRecordedChirp, "Use recorded chirp"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kInfo, "Info"},
    kMenuSeparator,
    MenuItemSpec{CommandId::kAudioDevice, "Audio device..."},
    kMenuSeparator,
    MenuItemSpec{CommandId::kCalibration, "Calibration..."},
};
inline constexpr std::array kTestsItems{
    MenuItemSpec{CommandId::kCheckRecording, "Check recording"},
    MenuItemSpec{CommandId::kCheckAudioSystem,
                 "Check audio system "},  // the trailing blank belongs to the label
    MenuItemSpec{CommandId::kCheckPlay, "Check play"},
    MenuItemSpec{CommandId::kSearchOffset, "Search offset"},
};
inline constexpr std::array kHelpItems{
    MenuItemSpec{CommandId::kAbout, "About"},
    MenuItemSpec{CommandId::kHelp, "Help", "F1"},
};

// The menu-bar buttons' own identifiers. They only name the buttons and are never dispatched:
// the Analyze button shares its number with "Stop sonar".
enum class MenuBarId : int {
  kFile = 401,
  kAnalyze = 226,
  kSettings = 217,
  kTests = 230,
  kHelp = 404
};

// A menu-bar button and the pop-up it opens.
struct MenuSpec {
  MenuBarId barId{};
  std::string_view title;
  const MenuItemSpec* items = nullptr;
  size_t itemCount = 0;
};

template <size_t N>
constexpr MenuSpec makeMenu(MenuBarId barId, std::string_view title,
                            const std::array<MenuItemSpec, N>& items) {
  return MenuSpec{barId, title, items.data(), N};
}

inline constexpr std::array kMenuBar{
    makeMenu(MenuBarId::kFile, "File", kFileItems),
    makeMenu(MenuBarId::kAnalyze, "Analyze", kAnalyzeItems),
    makeMenu(MenuBarId::kSettings, "Settings", kSettingsItems),
    makeMenu(MenuBarId::kTests, "Tests", kTestsItems),
    makeMenu(MenuBarId::kHelp, "Help", kHelpItems),
};

// kCheck: a button that stays down while its setting is on, on its own.
enum class ToolStyle { kButton, kSeparator, kCheckGroup, kCheck };

// One toolbar entry; image is an index into the toolbar images, -1 for a separator.
struct ToolButtonSpec {
  int image = -1;
  CommandId command{};
  ToolStyle style = ToolStyle::kSeparator;
  bool checked = false;
  std::string_view toolTip;
};

inline constexpr ToolButtonSpec kToolSeparator{};

inline constexpr std::array kToolbar{
    ToolButtonSpec{0, CommandId::kSingleChirp, ToolStyle::kButton, false, "Single chirp"},
    ToolButtonSpec{1, CommandId::kStartSonar, ToolStyle::kButton, false, "Start sonar"},
    ToolButtonSpec{2, CommandId::kPauseSonar, ToolStyle::kButton, false, "Pause sonar"},
    ToolButtonSpec{3, CommandId::kStopSonar, ToolStyle::kButton, false, "Stop sonar"},
    ToolButtonSpec{4, CommandId::kClearScreen, ToolStyle::kButton, false, "Clear screen"},
    kToolSeparator,
    ToolButtonSpec{5, CommandId::kLinearMode, ToolStyle::kCheckGroup, true, "Linear mode"},
    ToolButtonSpec{6, CommandId::kAngularMode, ToolStyle::kCheckGroup, false, "Angular mode"},
    kToolSeparator,
    ToolButtonSpec{7, CommandId::kAnalyzeWindowTool, ToolStyle::kButton, false, "Analyze window"},
    ToolButtonSpec{8, CommandId::kEmptyTool, ToolStyle::kButton, false, "empty"},
    kToolSeparator,
    ToolButtonSpec{9, CommandId::kChangeView, ToolStyle::kCheck, false, "Change view"},
};

inline constexpr int kToolbarImageCount = 10;
inline constexpr int kToolbarImageSize = 18;  // [px] the size the images are designed for

// Qt resource path of a toolbar image (":/toolbar/..."), empty for an index out of range.
std::string_view toolbarImagePath(int image);

// The About box's two pictures: a banner of 87 x 57 pixels and an emblem of 18 x 18.
inline constexpr std::string_view kAboutBannerPath = ":/about/banner.svg";
inline constexpr int kAboutBannerWidth = 87;
inline constexpr int kAboutBannerHeight = 57;
inline constexpr std::string_view kAboutEmblemPath = ":/about/emblem.svg";
inline constexpr int kAboutEmblemSize = 18;

// Qt resource path of the help document.
inline constexpr std::string_view kHelpResourcePath = ":/help/help.html";
