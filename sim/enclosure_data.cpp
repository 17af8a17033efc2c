#include "sim/enclosure_data.h"

#include <algorithm>

namespace raid::sim {
namespace {

void PutWord(std::span<std::uint8_t> block, std::size_t word, std::uint16_t value) {
    block[word * 2] = static_cast<std::uint8_t>(value);
    block[word * 2 + 1] = static_cast<std::uint8_t>(value >> 8);
}

// ATA data blocks end with a byte that makes the sum of all 512 bytes zero.
void SealChecksum(std::span<std::uint8_t> block) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < block.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + block[i]);
    block[block.size() - 1] = static_cast<std::uint8_t>(0x100 - sum);
}

struct Attribute {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t current;
    std::uint8_t worst;
    std::uint64_t raw;
    std::uint8_t threshold;
};

// A healthy desktop disk: ids the SMART page knows, no alerts.
constexpr Attribute kAttributes[] = {
    {1, 0x002F, 200, 200, 0, 51},  {3, 0x0027, 178, 175, 6075, 21}, {4, 0x0032, 100, 100, 1234, 0},
    {5, 0x0033, 200, 200, 0, 140}, {9, 0x0032, 88, 88, 8760, 0},    {12, 0x0032, 100, 100, 512, 0},
    {194, 0x0022, 112, 98, 35, 0}, {197, 0x0032, 200, 200, 0, 0},   {199, 0x0032, 200, 200, 0, 0},
};

constexpr std::size_t kFirstAttribute = 2;
constexpr std::size_t kAttributeSize = 12;

}  // namespace

void PutAtaText(std::span<std::uint8_t> field, std::string_view text) {
    for (std::size_t k = 0; k < field.size(); ++k) {
        const std::size_t source = k ^ 1;
        field[k] = source < text.size() ? static_cast<std::uint8_t>(text[source]) : ' ';
    }
}

void PutBigEndian(std::span<std::uint8_t> field, std::uint64_t value) {
    for (std::size_t i = field.size(); i-- > 0;) {
        field[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

void PutLittleEndian(std::span<std::uint8_t> field, std::uint64_t value) {
    for (auto& byte : field) {
        byte = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

std::array<std::uint8_t, kAtaBlockSize> BuildIdentifyData(const MemberDisk& disk) {
    std::array<std::uint8_t, kAtaBlockSize> id{};
    std::span<std::uint8_t> b(id);
    const std::uint64_t lba48 = disk.capacitySectors;
    const std::uint32_t lba28 =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(lba48, 0x0FFFFFFF));
    PutWord(b, 0, 0x0040);  // fixed disk
    PutWord(b, 1, 16383);
    PutWord(b, 3, 16);
    PutWord(b, 6, 63);
    PutAtaText(b.subspan(20, 20), disk.serial);
    PutAtaText(b.subspan(46, 8), disk.firmware);
    PutAtaText(b.subspan(54, 40), disk.model);
    PutWord(b, 47, 0x8010);
    PutWord(b, 49, 0x2F00);  // LBA, DMA, IORDY
    PutWord(b, 53, 0x0007);
    PutWord(b, 60, static_cast<std::uint16_t>(lba28));
    PutWord(b, 61, static_cast<std::uint16_t>(lba28 >> 16));
    PutWord(b, 80, 0x01F0);  // ATA8-ACS and earlier
    PutWord(b, 82, 0x746B);  // SMART supported
    PutWord(b, 83, 0x7F61);  // 48-bit addressing
    PutWord(b, 85, 0x7469);
    PutWord(b, 86, 0xBC41);
    PutWord(b, 87, 0x6163);
    for (std::size_t w = 0; w < 4; ++w)
        PutWord(b, 100 + w, static_cast<std::uint16_t>(lba48 >> (16 * w)));
    PutWord(b, 106, disk.word106);
    PutWord(b, 217, 7200);
    id[510] = 0xA5;  // integrity word signature
    SealChecksum(b);
    return id;
}

std::vector<std::uint8_t> DefaultSmartData(int variant) {
    std::vector<std::uint8_t> data(kAtaBlockSize, 0);
    data[0] = 0x10;  // data structure revision
    std::size_t offset = kFirstAttribute;
    for (const Attribute& a : kAttributes) {
        std::uint64_t raw = a.raw;
        if (a.id == 9 || a.id == 4 || a.id == 12) raw += static_cast<std::uint64_t>(variant) * 17;
        data[offset] = a.id;
        data[offset + 1] = static_cast<std::uint8_t>(a.flags);
        data[offset + 2] = static_cast<std::uint8_t>(a.flags >> 8);
        data[offset + 3] = a.current;
        data[offset + 4] = a.worst;
        for (std::size_t i = 0; i < 6; ++i)
            data[offset + 5 + i] = static_cast<std::uint8_t>(raw >> (8 * i));
        offset += kAttributeSize;
    }
    data[362] = 0x82;  // offline collection completed
    data[367] = 0x7B;  // capabilities
    data[368] = 0x03;
    data[370] = 0x01;
    SealChecksum(data);
    return data;
}

std::vector<std::uint8_t> DefaultSmartThresholds() {
    std::vector<std::uint8_t> data(kAtaBlockSize, 0);
    data[0] = 0x10;
    std::size_t offset = kFirstAttribute;
    for (const Attribute& a : kAttributes) {
        data[offset] = a.id;
        data[offset + 1] = a.threshold;
        offset += kAttributeSize;
    }
    SealChecksum(data);
    return data;
}

std::vector<std::uint8_t> DefaultFlashImage() {
    std::vector<std::uint8_t> flash(kSpiFlashSize, 0xFF);
    // A boot loader and code area of 64 KiB: a header, then filler code.
    constexpr std::size_t kImageSize = 0x10000;
    for (std::size_t i = 0; i < kImageSize; ++i)
        flash[i] = static_cast<std::uint8_t>((i * 29 + (i >> 8)) ^ 0x3C);
    constexpr std::string_view kHeader = "SIMBOOT1";
    std::copy(kHeader.begin(), kHeader.end(), flash.begin());
    flash[kSpiTypeByteOffset] = kDefaultSpiTypeByte;
    return flash;
}

std::uint64_t ArrayCapacity(const Enclosure& model) {
    if (model.configuredCapacity != 0) return model.configuredCapacity;
    const std::uint64_t a = model.members[0].capacitySectors;
    const std::uint64_t b = model.members[1].capacitySectors;
    switch (model.arrayModeByte) {
        case 0:  // JBOD: both disks end to end
            return a + b;
        case 1:  // striping
            return 2 * std::min(a, b);
        case 2:  // mirroring
            return std::min(a, b);
        default:  // bypass: the host sees the first disk
            return a;
    }
}

void CompleteModel(Enclosure& model) {
    for (int i = 0; i < 2; ++i) {
        MemberDisk& m = model.members[i];
        if (m.smartData.size() != kAtaBlockSize) m.smartData = DefaultSmartData(i);
        if (m.smartThresholds.size() != kAtaBlockSize) m.smartThresholds = DefaultSmartThresholds();
    }
    if (model.spiFlash.empty()) model.spiFlash = DefaultFlashImage();
}

void OrdinarySector(std::uint32_t lba, std::span<std::uint8_t> out) {
    const std::size_t n = std::min<std::size_t>(out.size(), kAtaBlockSize);
    if (lba == 0) {
        std::fill_n(out.begin(), n, 0);
        if (n == kAtaBlockSize) {
            out[510] = 0x55;
            out[511] = 0xAA;
        }
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>((lba * 131u + i * 7u) ^ (lba >> 8));
}

}  // namespace raid::sim
