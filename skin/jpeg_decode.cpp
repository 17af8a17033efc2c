// JPEG decoding for the skin. libjpeg reports fatal errors by calling
// error_exit, which must not return; we leave the decoder by longjmp back into
// the one function that called setjmp, which holds no C++ objects of its own.

#include <csetjmp>
#include <cstdio>
#include <limits>

#include "skin/skin.h"

// Last: jpeglib.h expects size_t and FILE to be declared already.
#include <jpeglib.h>

namespace raid::skin {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;  // first, so libjpeg's pointer is also ours
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// A warning means damaged data (premature end, bad Huffman code, extra bytes
// before a marker); libjpeg would paint grey over it, we refuse the picture.
void EmitMessage(j_common_ptr cinfo, int msgLevel) {
    if (msgLevel < 0) ErrorExit(cinfo);
}

void OutputMessage(j_common_ptr) {}  // libjpeg would write to stderr

struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    QImage image;
};

bool SizeAcceptable(JDIMENSION width, JDIMENSION height) {
    if (width == 0 || height == 0) return false;
    if (width > static_cast<JDIMENSION>(kMaxDecodeSide)) return false;
    if (height > static_cast<JDIMENSION>(kMaxDecodeSide)) return false;
    return static_cast<long long>(width) * static_cast<long long>(height) <= kMaxDecodePixels;
}

// Runs the decode into d.image; false when libjpeg gave up or the picture
// is not acceptable. Only `d` (which lives in the caller) is touched after
// setjmp, so its state is well defined when we come back by longjmp.
bool Run(Decoder& d, const unsigned char* bytes, unsigned long size) {
    if (setjmp(d.err.jump) != 0) return false;

    jpeg_mem_src(&d.cinfo, bytes, size);
    if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (!SizeAcceptable(d.cinfo.image_width, d.cinfo.image_height)) return false;
    d.cinfo.out_color_space = JCS_RGB;  // grey input is widened; CMYK fails here
    jpeg_start_decompress(&d.cinfo);
    if (d.cinfo.output_components != 3 ||
        !SizeAcceptable(d.cinfo.output_width, d.cinfo.output_height)) {
        return false;
    }
    d.image = QImage(static_cast<int>(d.cinfo.output_width),
                     static_cast<int>(d.cinfo.output_height), QImage::Format_RGB888);
    if (d.image.isNull()) return false;
    // Each scan line of an RGB888 image holds at least width * 3 bytes, which
    // is exactly what one output row of libjpeg needs.
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = d.image.scanLine(static_cast<int>(d.cinfo.output_scanline));
        if (jpeg_read_scanlines(&d.cinfo, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() > std::numeric_limits<unsigned long>::max()) return {};
    Decoder d;
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = ErrorExit;
    d.err.pub.emit_message = EmitMessage;
    d.err.pub.output_message = OutputMessage;
    jpeg_create_decompress(&d.cinfo);
    const bool ok = Run(d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_destroy_decompress(&d.cinfo);
    if (!ok) return {};
    return std::move(d.image);
}

}  // namespace raid::skin
