// libFuzzer entry for the skin's JPEG decoder: any input must give a null
// image or an image within the size limits, never a crash or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "skin/skin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QImage image = raid::skin::DecodeJpeg(std::span<const std::uint8_t>(data, size));
    if (!image.isNull() && (image.width() > raid::skin::kMaxDecodeSide ||
                            image.height() > raid::skin::kMaxDecodeSide)) {
        std::abort();
    }
    return 0;
}
