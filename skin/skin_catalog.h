#pragma once
// Every picture of the skin with its size in pixels. This list is the one
// source of the names: the painter draws exactly these, the build turns them
// into resources (skin/CMakeLists.txt reads the names from this file, one
// entry per line), and the tests check each against its size.
#include <array>
#include <string_view>

namespace raid::skin {

// Main window client area; the status bar takes the bottom 20 pixels.
inline constexpr int kWindowWidth = 620;
inline constexpr int kWindowHeight = 440;

// Backgrounds cover the window above the status bar.
inline constexpr int kBackgroundWidth = 620;
inline constexpr int kBackgroundHeight = 420;

// The title banner lies over the top of the background at (0, 0).
inline constexpr int kBannerWidth = 620;
inline constexpr int kBannerHeight = 56;

// Page buttons of the left column (Yellow = current page, White = others).
inline constexpr int kPageButtonWidth = 130;
inline constexpr int kPageButtonHeight = 40;

// Device selectors of the Status and Upgrade pages.
inline constexpr int kDeviceWidth = 120;
inline constexpr int kDeviceHeight = 84;

// Disk selectors of the SMART page.
inline constexpr int kDiskWidth = 120;
inline constexpr int kDiskHeight = 48;

// Action buttons on the pages.
inline constexpr int kActionWidth = 100;
inline constexpr int kActionHeight = 30;

// Sub-page tabs of the Setup page.
inline constexpr int kTabWidth = 120;
inline constexpr int kTabHeight = 28;

// Product logo of the About page.
inline constexpr int kLogoWidth = 160;
inline constexpr int kLogoHeight = 120;

// Where the background puts things, for the window layout.
inline constexpr int kButtonColumnLeft = 10;  // left of every page button slot
inline constexpr int kButtonColumnTop = 70;   // top of the first slot
inline constexpr int kButtonPitch = 48;       // distance between slot tops
inline constexpr int kPanelLeft = 152;        // the light page panel
inline constexpr int kPanelTop = 64;
inline constexpr int kPanelWidth = 460;
inline constexpr int kPanelHeight = 348;

struct PictureInfo {
    std::string_view name;  // resource ":/skin/<name>.jpg"
    int width;
    int height;
};

// clang-format off
inline constexpr std::array kPictures{
    PictureInfo{"backgroundRaid", kBackgroundWidth, kBackgroundHeight},
    PictureInfo{"backgroundOem", kBackgroundWidth, kBackgroundHeight},
    PictureInfo{"backgroundHybrid", kBackgroundWidth, kBackgroundHeight},
    PictureInfo{"titleBanner", kBannerWidth, kBannerHeight},
    PictureInfo{"statusPageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"statusPageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"setupPageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"setupPageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"upgradePageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"upgradePageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"emailPageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"emailPageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"smartPageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"smartPageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"aboutPageButtonSelected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"aboutPageButtonUnselected", kPageButtonWidth, kPageButtonHeight},
    PictureInfo{"device1Selected", kDeviceWidth, kDeviceHeight},
    PictureInfo{"device1Unselected", kDeviceWidth, kDeviceHeight},
    PictureInfo{"device2Selected", kDeviceWidth, kDeviceHeight},
    PictureInfo{"device2Unselected", kDeviceWidth, kDeviceHeight},
    PictureInfo{"hdd1Selected", kDiskWidth, kDiskHeight},
    PictureInfo{"hdd1Unselected", kDiskWidth, kDiskHeight},
    PictureInfo{"hdd2Selected", kDiskWidth, kDiskHeight},
    PictureInfo{"hdd2Unselected", kDiskWidth, kDiskHeight},
    PictureInfo{"eventLogButton", kActionWidth, kActionHeight},
    PictureInfo{"loadFirmwareButton", kActionWidth, kActionHeight},
    PictureInfo{"startUpgradeButton", kActionWidth, kActionHeight},
    PictureInfo{"applyPeriodButton", kActionWidth, kActionHeight},
    PictureInfo{"saveMailButton", kActionWidth, kActionHeight},
    PictureInfo{"revertMailButton", kActionWidth, kActionHeight},
    PictureInfo{"testMailButton", kActionWidth, kActionHeight},
    PictureInfo{"productLogo", kLogoWidth, kLogoHeight},
    PictureInfo{"initializeTabUnselected", kTabWidth, kTabHeight},
    PictureInfo{"scheduleTabSelected", kTabWidth, kTabHeight},
    PictureInfo{"scheduleTabUnselected", kTabWidth, kTabHeight},
};
// clang-format on

}  // namespace raid::skin
