// Loading a firmware file: the byte sum, the format GUID, the metadata
// signature and the product check against the selected device, and files
// that are short, missing or unreadable.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "firmware/firmware_image.h"
#include "tests/unit/firmware_files.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::firmware {
namespace {

using test_support::FirmwareFile;
using test_support::FirmwareFileSpec;
using test_support::IdentifyWith;

const Message kGuidError{"Threr are GUID error in the firmware file.\nPlease check it.", "Error",
                         MessageIcon::Error};
const Message kSignatureError{
    "Threr are METADATA_SINGATURE error in the firmware file.\nPlease check it.", "Error",
    MessageIcon::Error};
const Message kProductError{"The firmware is not for this product.\nPlease check it.", "Error",
                            MessageIcon::Error};

LoadResult Check(const FirmwareFileSpec& spec, std::uint32_t deviceCode, std::uint16_t product,
                 bool portMultiplier = false) {
    const Record512 identify = IdentifyWith(deviceCode, product);
    return ValidateFirmware(FirmwareFile(spec), {identify, portMultiplier});
}

std::vector<Message> Refusals(const LoadResult& r) { return r.messages; }

TEST(FirmwareValidate, GuidIsCheckedBeforeTheSignatureAndOnlyOneIsTold) {
    for (bool signature : {true, false}) {
        const LoadResult r = Check({.guid = false, .signature = signature}, 0x14010100, 0x2770);
        EXPECT_FALSE(r.image);
        EXPECT_EQ(Refusals(r), std::vector<Message>{kGuidError}) << signature;
        EXPECT_EQ(r.texts.deviceCode, "");  // the product check never ran
    }
    const LoadResult r = Check({.signature = false}, 0x14010100, 0x2770);
    EXPECT_FALSE(r.image);
    EXPECT_EQ(Refusals(r), std::vector<Message>{kSignatureError});
    EXPECT_FALSE(r.texts.checksum.empty());  // set before the checks, kept after a refusal
}

TEST(FirmwareValidate, AFileEndingInsideItsConfigurationBlockIsRefusedAfterTheSignature) {
    // L + 256 one byte past the end: the block would not be flashed whole.
    const Message cut{
        "The firmware file ends at 0x200, inside its 256-byte configuration block "
        "at 0x101.\nThe file is not complete. Please check it.",
        "Error", MessageIcon::Error};
    LoadResult r = Check({.configOffset = 0x101}, 0x14010100, 0x2770);
    EXPECT_FALSE(r.image);
    EXPECT_EQ(Refusals(r), std::vector<Message>{cut});
    EXPECT_EQ(r.texts.deviceCode, "");  // refused before the product check
    r = Check({.signature = false, .configOffset = 0x101}, 0x14010100, 0x2770);
    EXPECT_EQ(Refusals(r), std::vector<Message>{kSignatureError});
    EXPECT_TRUE(Check({.configOffset = 0x100}, 0x14010100, 0x2770).image);  // ends with the block
}

TEST(FirmwareValidate, ProductRules) {
    struct Case {
        std::uint32_t deviceCode, fileCode;
        std::uint16_t deviceProduct, fileProduct;
        bool accepted;
    };
    const Case cases[] = {
        // At the threshold on either side any product goes.
        {0x13122500, 0x14010100, 0x1234, 0x9999, true},
        {0x14010100, 0x13122500, 0x1234, 0x9999, true},
        {0x13122501, 0x13122501, 0x1234, 0x9999, false},
        // The 2760 and 2770 take each other's firmware, and only theirs.
        {0x14010100, 0x14010100, 0x2770, 0x2760, true},
        {0x14010100, 0x14010100, 0x2760, 0x2770, true},
        {0x14010100, 0x14010100, 0x2770, 0x2770, true},
        {0x14010100, 0x14010100, 0x2770, 0x2771, false},
        {0x14010100, 0x14010100, 0x2760, 0x1234, false},
        // Any other product only its own.
        {0x14010100, 0x14010100, 0x1234, 0x1234, true},
        {0x14010100, 0x14010100, 0x1234, 0x1235, false},
        {0x14010100, 0x14010100, 0x1234, 0x2770, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.deviceCode << " " << c.fileCode << " "
                                        << c.deviceProduct << " " << c.fileProduct);
        const LoadResult r =
            Check({.code = c.fileCode, .product = c.fileProduct}, c.deviceCode, c.deviceProduct);
        EXPECT_EQ(r.image.has_value(), c.accepted);
        EXPECT_EQ(Refusals(r), c.accepted ? std::vector<Message>{} : std::vector{kProductError});
    }
}

TEST(FirmwareValidate, CodeTextsWithoutLeadingZeros) {
    const LoadResult r = Check({.code = 0x0A0B0C0D}, 0x00000500, 0x2770);
    EXPECT_EQ(r.texts.deviceCode, "F:500");
    EXPECT_EQ(r.texts.fileCode, "C:A0B0C0D");
    ASSERT_TRUE(r.image);
    EXPECT_EQ(r.image->bytes, FirmwareFile({.code = 0x0A0B0C0D}));
}

TEST(FirmwareValidate, PortMultiplierSkipsTheProductCheckAndItsTexts) {
    const LoadResult r = Check({.code = 0x14010100, .product = 0x1111}, 0x14010100, 0x2770, true);
    EXPECT_TRUE(r.image);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.texts.deviceCode, "");
    EXPECT_EQ(r.texts.fileCode, "");
}

TEST(FirmwareValidate, ByteSum) {
    const std::vector<std::uint8_t> abc{'a', 'b', 'c'};
    EXPECT_EQ(ChecksumText(ByteSum(abc)), "Chksum:00000126");
    // The sum wraps at 32 bits.
    EXPECT_EQ(ChecksumText(0xFFFFFFFFu + std::uint32_t{2}), "Chksum:00000001");
    const auto r = ValidateFirmware(abc, {});
    EXPECT_EQ(r.texts.checksum, "Chksum:00000126");
}

TEST(FirmwareValidate, ShortFilesAreRefusedWithTheGuidMessageWithoutReadingPastTheirEnd) {
    // Every length below the header, cut from a file that is right in all
    // it holds; the vector's own end is the limit (the sanitizer build
    // catches a read past it).
    const auto whole = FirmwareFile({});
    for (std::size_t n :
         {std::size_t{0}, std::size_t{3}, std::size_t{100}, kGuidOffset + 16, kHeaderSize - 1}) {
        const std::vector<std::uint8_t> file(whole.begin(), whole.begin() + static_cast<long>(n));
        const LoadResult r = ValidateFirmware(file, {});
        EXPECT_FALSE(r.image) << n;
        EXPECT_EQ(r.messages, std::vector<Message>{kGuidError}) << n;
    }
    EXPECT_TRUE(ValidateFirmware(whole, {}).image);
    // A device record too short for its codes counts as codes 0: accepted.
    const std::vector<std::uint8_t> shortRecord(10, 0xFF);
    EXPECT_TRUE(ValidateFirmware(whole, {shortRecord, false}).image);
}

// A medium that fails some reads.
class FlakySource final : public FileSource {
public:
    FlakySource(std::vector<std::uint8_t> bytes, int failures)
        : bytes_(std::move(bytes)), failures_(failures) {}
    bool Open(const std::filesystem::path&) override { return true; }
    std::optional<std::uint64_t> Size() override { return bytes_.size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        ++reads;
        if (failures_ > 0 && offset >= 0x40) {
            --failures_;
            return std::nullopt;
        }
        const std::size_t n =
            std::min<std::size_t>(std::min<std::size_t>(out.size(), 0x40), bytes_.size() - offset);
        std::copy_n(bytes_.begin() + static_cast<long>(offset), n, out.begin());
        return n;
    }
    int reads = 0;

private:
    std::vector<std::uint8_t> bytes_;
    int failures_;
};

TEST(FirmwareLoad, ReadErrorsAreToldAndRetriedAtMostThreeTimes) {
    const Message warning{"Error read from Source file. ByteCount = 64",
                          "Warning:", MessageIcon::Error};
    FlakySource twice(FirmwareFile({}), 2);
    LoadResult r = LoadFirmwareFile("/media/fw.bin", {}, twice);
    EXPECT_TRUE(r.image);
    EXPECT_EQ(r.messages, (std::vector<Message>{warning, warning}));
    EXPECT_EQ(r.texts.file, "File:/media/fw.bin");

    FlakySource always(FirmwareFile({}), 1000);
    r = LoadFirmwareFile("/media/fw.bin", {}, always);
    EXPECT_FALSE(r.image);
    EXPECT_EQ(r.messages, (std::vector<Message>{warning, warning, warning}));
    EXPECT_EQ(always.reads, 1 + kFileReadAttempts);
    EXPECT_EQ(r.texts.checksum, "");
}

TEST(FirmwareLoad, RealFiles) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("fw_load_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    const auto file = FirmwareFile({.size = 0x2345});
    test_support::WriteFile(dir / "good.bin", std::string(file.begin(), file.end()));
    LoadResult r = LoadFirmwareFile(dir / "good.bin", {});
    ASSERT_TRUE(r.image);
    EXPECT_EQ(r.image->bytes, file);
    EXPECT_EQ(r.texts.checksum, ChecksumText(ByteSum(file)));

    for (const auto& missing : {dir / "missing.bin", dir}) {  // a folder is no file either
        r = LoadFirmwareFile(missing, {});
        EXPECT_FALSE(r.image);
        const Message cannotOpen{"Fail to open firmware file", "Error", MessageIcon::Error};
        EXPECT_EQ(r.messages, std::vector<Message>{cannotOpen});
        EXPECT_EQ(r.texts.file, "File:" + missing.string());
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid::firmware
