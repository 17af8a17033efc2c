#pragma once
// The main window's skin: JPEG pictures compiled into the program as Qt
// resources under ":/skin/<name>.jpg", decoded with libjpeg.
//
// Pictures (names and sizes in skin_catalog.h):
//   backgroundRaid, backgroundOem,      620 x 420  dark slate window with the
//   backgroundHybrid                               light page panel at kPanelLeft/Top
//   titleBanner                         620 x 56   title banner, placed at (0, 0);
//                                                  its right part is left plain for
//                                                  the product name
//   statusPageButton, setupPageButton,
//   upgradePageButton, emailPageButton,
//   smartPageButton, aboutPageButton    130 x 40   page buttons, each as
//                                                  <name>Selected (current page, amber)
//                                                  and <name>Unselected (other pages,
//                                                  light)
//   device1, device2                    120 x 84   enclosure drawings "Device1",
//                                                  "Device2"; <name>Selected and
//                                                  <name>Unselected as above
//   hdd1, hdd2                          120 x 48   member disks "HDD1", "HDD2";
//                                                  <name>Selected and <name>Unselected
//   eventLogButton, loadFirmwareButton,
//   startUpgradeButton, applyPeriodButton,
//   saveMailButton, revertMailButton,
//   testMailButton                      100 x 30   action buttons
//   productLogo                         160 x 120  product logo (About page)
//   initializeTabUnselected,
//   scheduleTab                         120 x 28   Setup page sub-page tabs; the
//                                                  schedule tab as <name>Selected
//                                                  and <name>Unselected
//
// Picture buttons and selectors are drawn with the colour of what lies under
// them (the column or the panel) in their corners, so they need no mask.
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <span>

#include "skin/skin_catalog.h"

namespace raid::skin {

// Largest picture the decoder accepts, in either direction and in total.
inline constexpr int kMaxDecodeSide = 8192;
inline constexpr long long kMaxDecodePixels = 16LL * 1024 * 1024;

// Decodes a baseline or progressive JPEG (grey or colour) into an RGB image.
// Returns a null image for anything that is not a whole, intact JPEG: empty
// or truncated data, corrupt entropy data (libjpeg's warnings count as
// errors), unsupported colour spaces, or sizes above the limits. Never exits
// and never reads outside `data`. Any thread.
QImage DecodeJpeg(std::span<const std::uint8_t> data);

// The skin picture `name` (without suffix) from the resources, decoded once
// and cached. A null pixmap when there is no such picture. GUI thread only,
// after the QGuiApplication exists.
QPixmap Picture(const QString& name);

// Decodes the skin picture `name` from the resources without caching; a null
// image when it is missing or damaged. Any thread.
QImage LoadPictureImage(const QString& name);

}  // namespace raid::skin
