#pragma once
// Firmware files and identify records made in the tests, laid out as the
// loader reads them.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/state.h"
#include "firmware/firmware_image.h"

namespace raid::test_support {

struct FirmwareFileSpec {
    std::size_t size = 0x200;
    bool guid = true;
    bool signature = true;
    std::uint32_t code = 0x14010100;  // file firmware code, after the threshold
    std::uint16_t product = 0x2770;
    std::uint8_t typeByte = 0x5A;
    // L: the configuration block right after the header, inside the file.
    std::uint32_t configOffset = 0x100;
};

inline void PutBigEndian(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t v,
                         int width) {
    for (int i = 0; i < width; ++i)
        bytes[offset + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}

// A file of spec.size bytes with a counting pattern and the fields set; the
// configuration block carries its checksum when it fits.
inline std::vector<std::uint8_t> FirmwareFile(const FirmwareFileSpec& spec) {
    std::vector<std::uint8_t> f(spec.size);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    if (f.size() < firmware::kHeaderSize) return f;
    std::copy(firmware::kMetadataSignature.begin(), firmware::kMetadataSignature.end(),
              f.begin() + firmware::kSignatureOffset);
    if (!spec.signature) f[firmware::kSignatureOffset + 3] = 'Y';
    std::copy(firmware::kFormatGuid.begin(), firmware::kFormatGuid.end(),
              f.begin() + firmware::kGuidOffset);
    if (!spec.guid) f[firmware::kGuidOffset + 15] ^= 0xFF;
    f[firmware::kTypeByteOffset] = spec.typeByte;
    PutBigEndian(f, firmware::kFileCodeOffset, spec.code, 4);
    PutBigEndian(f, firmware::kFileProductOffset, spec.product, 2);
    for (std::size_t i = 0; i < 3; ++i)
        f[firmware::kConfigOffsetField + i] =
            static_cast<std::uint8_t>(spec.configOffset >> (8 * i));
    const std::size_t block = spec.configOffset;
    if (block + firmware::kConfigBlockSize <= f.size()) {
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < firmware::kConfigBlockSize - 2; ++i)
            sum = static_cast<std::uint16_t>(sum + f[block + i]);
        f[block + firmware::kConfigBlockSize - 2] = static_cast<std::uint8_t>(sum);
        f[block + firmware::kConfigBlockSize - 1] = static_cast<std::uint8_t>(sum >> 8);
    }
    return f;
}

// An identify record holding the device's firmware and product codes.
inline Record512 IdentifyWith(std::uint32_t code, std::uint16_t product) {
    Record512 r{};
    std::vector<std::uint8_t> v(r.begin(), r.end());
    PutBigEndian(v, firmware::kDeviceCodeOffset, code, 4);
    PutBigEndian(v, firmware::kDeviceProductOffset, product, 2);
    std::copy(v.begin(), v.end(), r.begin());
    return r;
}

inline void WriteFileBytes(const std::filesystem::path& path,
                           const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace raid::test_support
