#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "skin/skin.h"

// Last: jpeglib.h expects size_t and FILE to be declared already.
#include <jpeglib.h>

namespace raid::skin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A small colour JPEG made with libjpeg: left half pure red, right half pure
// blue, so that a swapped channel order shows.
Bytes EncodeTestJpeg(int width, int height, J_COLOR_SPACE space) {
    const int components = space == JCS_GRAYSCALE ? 1 : 3;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height * components));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &pixels[static_cast<std::size_t>((y * width + x) * components)];
            if (components == 1) {
                px[0] = 0x80;
            } else if (x < width / 2) {
                px[0] = 255, px[1] = 0, px[2] = 0;
            } else {
                px[0] = 0, px[1] = 0, px[2] = 255;
            }
        }
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &pixels[static_cast<std::size_t>(cinfo.next_scanline * width * components)];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes result(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return result;
}

Bytes ResourceBytes(const QString& name) {
    QFile file(QStringLiteral(":/skin/") + name + QStringLiteral(".jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

bool Near(QRgb pixel, int r, int g, int b, int tolerance = 12) {
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
           std::abs(qBlue(pixel) - b) <= tolerance;
}

TEST(SkinPictures, EveryCataloguePictureDecodesAtItsDocumentedSize) {
    // LoadPictureImage initialises the resources; call it before listing them.
    for (const auto& info : kPictures) {
        const QString name =
            QString::fromLatin1(info.name.data(), static_cast<qsizetype>(info.name.size()));
        const QImage image = LoadPictureImage(name);
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_EQ(image.width(), info.width) << name.toStdString();
        EXPECT_EQ(image.height(), info.height) << name.toStdString();
    }
    EXPECT_EQ(QDir(QStringLiteral(":/skin")).entryList(QDir::Files).size(),
              static_cast<qsizetype>(kPictures.size()));
    EXPECT_TRUE(LoadPictureImage(QStringLiteral("noSuchPicture")).isNull());
}

TEST(SkinPictures, PictureIsCachedAndCompanionsDiffer) {
    const QPixmap first = Picture(QStringLiteral("statusPageButtonSelected"));
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(kPageButtonWidth, kPageButtonHeight));
    EXPECT_EQ(Picture(QStringLiteral("statusPageButtonSelected")).cacheKey(), first.cacheKey());
    EXPECT_TRUE(Picture(QStringLiteral("noSuchPicture")).isNull());

    // The two looks of a button must be told apart at a glance: amber versus
    // light in the middle of the button, left of the label.
    const QImage yellow = LoadPictureImage(QStringLiteral("statusPageButtonSelected"));
    const QImage white = LoadPictureImage(QStringLiteral("statusPageButtonUnselected"));
    const QRgb y = yellow.pixel(6, kPageButtonHeight / 2);
    const QRgb w = white.pixel(6, kPageButtonHeight / 2);
    EXPECT_GT(qRed(y) - qBlue(y), 100);
    EXPECT_LT(std::abs(qRed(w) - qBlue(w)), 40);
}

TEST(SkinPictures, BackgroundShowsTheLightPanelOnTheDarkWindow) {
    const QImage bg = LoadPictureImage(QStringLiteral("backgroundRaid"));
    ASSERT_FALSE(bg.isNull());
    EXPECT_TRUE(Near(bg.pixel(kPanelLeft + kPanelWidth / 2, kPanelTop + kPanelHeight / 2), 0xee,
                     0xf1, 0xf5));
    EXPECT_LT(qGray(bg.pixel(2, kBackgroundHeight - 2)), 70);
}

TEST(DecodeJpeg, KeepsColoursAndWidensGrey) {
    const QImage colour = DecodeJpeg(EncodeTestJpeg(32, 16, JCS_RGB));
    ASSERT_FALSE(colour.isNull());
    EXPECT_EQ(colour.size(), QSize(32, 16));
    EXPECT_TRUE(Near(colour.pixel(4, 8), 255, 0, 0, 20));
    EXPECT_TRUE(Near(colour.pixel(28, 8), 0, 0, 255, 20));

    const QImage grey = DecodeJpeg(EncodeTestJpeg(8, 8, JCS_GRAYSCALE));
    ASSERT_FALSE(grey.isNull());
    EXPECT_TRUE(Near(grey.pixel(3, 3), 0x80, 0x80, 0x80, 4));
}

TEST(DecodeJpeg, EveryTruncationGivesANullImage) {
    const Bytes whole = EncodeTestJpeg(16, 16, JCS_RGB);
    ASSERT_FALSE(DecodeJpeg(whole).isNull());
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_TRUE(DecodeJpeg(std::span(whole.data(), length)).isNull()) << length;
    }
    // A real skin picture cut in its entropy data.
    const Bytes logo = ResourceBytes(QStringLiteral("productLogo"));
    ASSERT_GT(logo.size(), 1000u);
    EXPECT_TRUE(DecodeJpeg(std::span(logo.data(), logo.size() / 2)).isNull());
}

TEST(DecodeJpeg, RefusesGarbageAndOversizedFrames) {
    const Bytes garbage(300, 0xA5);
    EXPECT_TRUE(DecodeJpeg(garbage).isNull());
    const Bytes markerOnly{0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_TRUE(DecodeJpeg(markerOnly).isNull());

    // Patch the frame header (SOF0: FF C0, length, precision, height, width)
    // to claim 60000 x 60000 pixels.
    Bytes big = EncodeTestJpeg(16, 16, JCS_RGB);
    bool patched = false;
    for (std::size_t i = 0; i + 8 < big.size(); ++i) {
        if (big[i] == 0xFF && big[i + 1] == 0xC0) {
            big[i + 5] = 0xEA, big[i + 6] = 0x60;  // height
            big[i + 7] = 0xEA, big[i + 8] = 0x60;  // width
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    EXPECT_TRUE(DecodeJpeg(big).isNull());
}

}  // namespace
}  // namespace raid::skin

int main(int argc, char** argv) {
    // Test discovery runs this program too, where nobody set the platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
