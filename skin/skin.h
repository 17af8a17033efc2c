#pragma once
// The main window's skin: JPEG pictures compiled into the program as Qt
// resources under ":/skin/<name>.jpg", decoded with libjpeg.
//
// Pictures (names and sizes in skin_catalog.h):
//   Image_Background_RAID, _OEM, _HyBrid  620 x 420  dark slate window with the
//                                        light page panel at kPanelLeft/Top
//   Image_Title                          620 x 56   title banner, placed at (0, 0);
//                                        its right part is left plain for Label63
//   Image_Sts, Image_Setup, Image_FWUpg,
//   Image_Email, Image_SMART, Image_About  130 x 40  page buttons, each as
//                                        <name>_Yellow (current page, amber) and
//                                        <name>_White (other pages, light)
//   Image0_D1, Image0_D2                 120 x 84   enclosure drawings "Device1",
//                                        "Device2"; _Yellow = selected, _White = not
//   Image5_HDD1, Image5_HDD2             120 x 48   member disks "HDD1", "HDD2";
//                                        _Yellow = selected, _White = not
//   Image0_Log, Image2_Load, Image2_Upgrade, Image1_Set,
//   Image3_OK, Image3_Ignore, Image3_Test  100 x 30  action buttons
//   Image4_Logo                          160 x 120  product logo (About page)
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
