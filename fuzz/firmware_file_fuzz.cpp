// A firmware file is whatever the user picks: the loader reads it through a
// medium that may fail or shorten reads, and validation checks it against a
// device without reading past either's end. What it accepts is the file.
//
// Input: a control byte (bit 0 a port-multiplier device; bit 1 reads return
// at most 7 bytes; bit 2 the first read fails; bit 3 the medium tells a
// size 100 bytes too large), the device's IdentifyRecord bytes 0..63, then
// the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "firmware/firmware_image.h"

namespace {

class InputSource final : public raid::firmware::FileSource {
public:
    InputSource(std::span<const std::uint8_t> bytes, std::uint8_t control)
        : bytes_(bytes), control_(control) {}
    bool Open(const std::filesystem::path&) override { return true; }
    std::optional<std::uint64_t> Size() override {
        return bytes_.size() + ((control_ & 8) != 0 ? 100 : 0);
    }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if ((control_ & 4) != 0 && reads_++ == 0) return std::nullopt;
        if (offset >= bytes_.size()) return 0;
        std::size_t n = std::min<std::size_t>(out.size(), bytes_.size() - offset);
        if ((control_ & 2) != 0) n = std::min<std::size_t>(n, 7);
        std::copy_n(bytes_.begin() + static_cast<long>(offset), n, out.begin());
        return n;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::uint8_t control_;
    int reads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::size_t kIdentifyBytes = 64;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const auto identify = rest.first(std::min(rest.size(), kIdentifyBytes));
    const auto file = rest.subspan(identify.size());

    raid::firmware::FirmwareTarget target;
    target.identifyRecord = identify;
    target.portMultiplier = (control & 1) != 0;
    const auto direct = raid::firmware::ValidateFirmware(file, target);

    InputSource source(file, control);
    const auto loaded = raid::firmware::LoadFirmwareFile("firmware.bin", target, source);
    // An accepted file is loaded as it is, byte for byte.
    if (direct.image && !std::equal(direct.image->bytes.begin(), direct.image->bytes.end(),
                                    file.begin(), file.end()))
        std::abort();
    if (loaded.image && (control & 4) == 0 &&
        !std::equal(loaded.image->bytes.begin(), loaded.image->bytes.end(), file.begin(),
                    file.end()))
        std::abort();
    return 0;
}
