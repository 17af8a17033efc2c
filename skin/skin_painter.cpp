// Build-time tool: paints every picture of the skin catalogue and writes each
// as a JPEG with libjpeg (the build lists them in its resource file).
//
//   skin_painter <output folder>
//
// Runs under the offscreen platform (QT_QPA_PLATFORM=offscreen), so it needs
// no display. Exits non-zero when a picture cannot be drawn or written.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <string>

#include "skin/skin_art.h"
#include "skin/skin_catalog.h"

// Last: jpeglib.h expects size_t and FILE to be declared already.
#include <jpeglib.h>

namespace {

constexpr int kJpegQuality = 92;

bool WriteJpeg(const QString& path, const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (file == nullptr) return false;
    // libjpeg's default error handler ends the program with a message, which
    // is the right outcome for a build step.
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kJpegQuality, TRUE);
    cinfo.optimize_coding = TRUE;
    // Full-resolution colour: coloured text and thin outlines stay sharp.
    for (int i = 0; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg's row type is not const; it only reads the row.
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin_painter <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "skin_painter: cannot create %s\n", argv[1]);
        return 1;
    }

    for (const auto& info : raid::skin::kPictures) {
        const std::string name(info.name);
        const QImage picture = raid::skin::PaintPicture(info.name, info.width, info.height);
        if (picture.isNull() || picture.width() != info.width || picture.height() != info.height) {
            std::fprintf(stderr, "skin_painter: no drawing for %s\n", name.c_str());
            return 1;
        }
        const QString file = QString::fromStdString(name) + QStringLiteral(".jpg");
        if (!WriteJpeg(folder + QLatin1Char('/') + file, picture)) {
            std::fprintf(stderr, "skin_painter: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
