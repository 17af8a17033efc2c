#pragma once
// A firmware file the emulated enclosure takes, for the tests that flash it.
#include <cstddef>
#include <string>

namespace raid::test_support {

// 8 KiB: the format's signature and GUID, the emulated part's type byte and
// its configuration block at 0x1000.
inline std::string EmulatedFirmwareFile() {
    std::string image(0x2000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + (i >> 7));
    const unsigned char guid[16] = {0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47,
                                    0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84};
    image.replace(0x80, 4, "VEXT");
    image.replace(0x84, 16, reinterpret_cast<const char*>(guid), 16);
    image[0x95] = 0x5A;
    image.replace(16, 3, std::string("\x00\x10\x00", 3));
    return image;
}

}  // namespace raid::test_support
