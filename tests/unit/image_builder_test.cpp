// The image builder's core: number entry, the sub-code table and its grid,
// the image layout with its configuration block, the refusals, and the
// name an image is saved under.
#include "image_builder/image_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image_builder/number_text.h"
#include "image_builder/sub_code_table.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::tools {
namespace {

// Files held in memory, by path.
class MemoryFiles final : public firmware::FileSource {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;

    bool Open(const std::filesystem::path& path) override {
        const auto it = files.find(path.string());
        open_ = it == files.end() ? nullptr : &it->second;
        return open_ != nullptr;
    }
    std::optional<std::uint64_t> Size() override {
        if (!open_) return std::nullopt;
        return open_->size();
    }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (!open_) return std::nullopt;
        const std::size_t n = std::min<std::size_t>(out.size(), open_->size() - offset);
        std::copy_n(open_->begin() + static_cast<long>(offset), n, out.begin());
        return n;
    }

private:
    const std::vector<std::uint8_t>* open_ = nullptr;
};

std::vector<std::uint8_t> BootLoader(std::uint32_t configOffset, std::size_t size = 0x6000) {
    std::vector<std::uint8_t> b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 5 + 1);
    b[16] = static_cast<std::uint8_t>(configOffset);
    b[17] = static_cast<std::uint8_t>(configOffset >> 8);
    b[18] = static_cast<std::uint8_t>(configOffset >> 16);
    return b;
}

std::vector<std::uint8_t> Code(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> c(size);
    for (std::size_t i = 0; i < size; ++i) c[i] = static_cast<std::uint8_t>(i * 3 + seed);
    return c;
}

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width; i-- > 0;) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

struct Builder {
    MemoryFiles files;
    SubCodeTable table;
    BuilderSettings settings;
    Filler filler{7};

    void Add(const std::string& path, std::vector<std::uint8_t> bytes) {
        files.files[path] = std::move(bytes);
        ASSERT_EQ(AddFiles(table, {path}), "");
    }
    BuiltImage Build() { return BuildImage(table, settings, filler, files); }
};

TEST(NumberText, DecimalOrHexWithH) {
    EXPECT_EQ(ParseNumberText("1AH", 0xFF), 26u);
    EXPECT_EQ(ParseNumberText("26", 0xFF), 26u);
    EXPECT_EQ(ParseNumberText("1ah", 0xFF), 26u);
    EXPECT_EQ(ParseNumberText(" 2000 ", 0xFFFF), 2000u);
    EXPECT_EQ(ParseNumberText("FFH", 0xFF), 255u);
    for (const char* bad : {"", " ", "H", "1AZH", "0x1A", "1A", "-3", "26.5", "2 6", "100H", "256",
                            "99999999999999999999"})
        EXPECT_FALSE(ParseNumberText(bad, 0xFF)) << bad;
    EXPECT_NE(NumberRefusal("the code type", "1AZH", 255).find("\"1AZH\""), std::string::npos);
}

TEST(SubCodeTable, AddingNamesTypesAndTheBootLoader) {
    SubCodeTable t;
    ASSERT_EQ(AddFiles(t, {"/fw/SUB_01.BIN", "/fw/sub_1a.bin", "/fw/SpiHead.Bin"}), "");
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.entries[0].path, "/fw/SpiHead.Bin");
    EXPECT_EQ(t.entries[1], (SubCodeEntry{"/fw/SUB_01.BIN", 0x01, true}));
    EXPECT_EQ(t.entries[2], (SubCodeEntry{"/fw/sub_1a.bin", 0x1A, true}));
    EXPECT_EQ(GridCellText(t, 2, 2), "01h");
    EXPECT_EQ(GridCellText(t, 3, 2), "1Ah");
    EXPECT_EQ(GridCellText(t, 3, 3), "TRUE");
    EXPECT_EQ(GridCellText(t, 3, 1), "sub_1a.bin");
    EXPECT_EQ(GridCellText(t, 1, 1), "SpiHead.Bin");
    EXPECT_EQ(GridCellText(t, 1, 2), "");  // the boot loader shows its name only
    EXPECT_EQ(GridCellText(t, 4, 1), "");
    EXPECT_EQ(GridCellText(t, 0, 3), "Update Flag");
    EXPECT_EQ(GridCellText(t, 1, 0), "Boot Loader");
    EXPECT_EQ(GridCellText(t, 11, 0), "SubCode-9");
    EXPECT_EQ(CellDetailText(t, 3, 1), "/fw/sub_1a.bin");
    EXPECT_EQ(CellDetailText(t, 3, 2), "1A");
    EXPECT_EQ(CellDetailText(t, 3, 3), "1");
    EXPECT_EQ(CellDetailText(t, 5, 1), "");

    // A second boot loader replaces the first and adds no sub-code.
    ASSERT_EQ(AddFiles(t, {"/other/SPIHEAD.BIN"}), "");
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.entries[0].path, "/other/SPIHEAD.BIN");

    // More than ten sub-codes: the whole choice is refused.
    const SubCodeTable before = t;
    std::vector<std::string> nine(9, "/fw/SUB_02.BIN");
    EXPECT_NE(AddFiles(t, nine), "");
    EXPECT_EQ(t.entries, before.entries);
    EXPECT_EQ(t.count, 2);
    nine.pop_back();
    EXPECT_EQ(AddFiles(t, nine), "");
    EXPECT_EQ(t.count, 10);
}

TEST(SubCodeTable, CodeTypeFromTheName) {
    EXPECT_EQ(CodeTypeFromFileName("SUB_1A.BIN"), 0x1A);
    EXPECT_EQ(CodeTypeFromFileName("SUB_G1.BIN"), 0x01);  // first is no digit: counts as 0
    EXPECT_EQ(CodeTypeFromFileName("SUB_1G.BIN"), 0x00);  // second is none: type 0
    EXPECT_EQ(CodeTypeFromFileName("A.B.BIN"), 0x0A);
    EXPECT_EQ(CodeTypeFromFileName(".BIN"), 0x00);
    EXPECT_FALSE(CodeTypeFromFileName("SUB_1A"));
}

TEST(SubCodeTable, KeysMoveAndDeleteWholeEntries) {
    SubCodeTable t;
    ASSERT_EQ(AddFiles(t, {"boot/SPIHEAD.BIN", "a_01.bin", "b_02.bin"}), "");
    const SubCodeEntry boot = t.entries[0], a = t.entries[1], b = t.entries[2];
    EXPECT_FALSE(MoveRowUp(t, 1));
    EXPECT_FALSE(MoveRowDown(t, 3));  // the last used row
    EXPECT_FALSE(MoveRowDown(t, 4));
    ASSERT_TRUE(MoveRowUp(t, 2));  // the boot loader takes part like any other
    EXPECT_EQ(t.entries[0], a);
    EXPECT_EQ(t.entries[1], boot);
    ASSERT_TRUE(MoveRowDown(t, 1));
    EXPECT_EQ(t.entries[0], boot);

    ASSERT_TRUE(DeleteRow(t, 2));
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.entries[1], b);
    EXPECT_EQ(t.entries[2], SubCodeEntry{});
    EXPECT_FALSE(DeleteRow(t, 3));
    EXPECT_FALSE(SetCodeType(t, 1, 5));  // the boot loader has no type
    EXPECT_TRUE(SetCodeType(t, 2, 0x26));
    EXPECT_TRUE(SetUpdateFlag(t, 2, false));
    EXPECT_EQ(GridCellText(t, 2, 3), "FALSE");
    ASSERT_TRUE(DeleteRow(t, 1));
    ASSERT_TRUE(DeleteRow(t, 1));
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.entries[0], SubCodeEntry{});
}

TEST(ImageBuilder, LayoutAndConfigurationBlock) {
    Builder b;
    const auto boot = BootLoader(0x078000);
    const auto one = Code(0x9000, 1), three = Code(0xC000, 9);
    b.Add("SPIHEAD.BIN", boot);
    b.Add("SUB_01.BIN", one);
    b.Add("SUB_03.BIN", three);
    SetUpdateFlag(b.table, 3, false);
    b.settings.scheduleBackup = true;
    const BuiltImage built = b.Build();
    ASSERT_TRUE(built.Ok());
    EXPECT_TRUE(built.messages.empty());
    const auto& img = built.bytes;
    ASSERT_EQ(img.size(), 0x80000u);
    EXPECT_EQ(built.configOffset, 0x78000u);

    EXPECT_TRUE(std::equal(boot.begin(), boot.end(), img.begin()));
    EXPECT_TRUE(std::equal(one.begin(), one.end(), img.begin() + 0xC000));
    EXPECT_TRUE(std::equal(three.begin(), three.end(), img.begin() + 0x18000));
    EXPECT_TRUE(std::all_of(img.begin() + 0x78100, img.end(), [](auto v) { return v == 0xFF; }));
    // Filler where nothing was placed: not the erased state throughout.
    EXPECT_FALSE(std::all_of(img.begin() + 0x15000, img.begin() + 0x18000,
                             [](auto v) { return v == 0xFF; }));

    const std::vector<std::uint8_t> block(img.begin() + 0x78000, img.begin() + 0x78100);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0xA0);
    EXPECT_EQ(
        std::vector<std::uint8_t>(block.begin() + 2, block.begin() + 12),
        (std::vector<std::uint8_t>{0x01, 0x00, 0xC0, 0x00, 0x5A, 0x03, 0x00, 0x80, 0x01, 0x00}));
    for (int i = 2; i < 10; ++i) EXPECT_EQ(block[2 + 5 * i], 0xFF) << i;
    EXPECT_EQ(Le(block, 52, 3), 0x24000u);
    EXPECT_EQ(block[55], 0x3F);
    EXPECT_EQ(block[56], 0xF1);
    EXPECT_EQ(block[57], 0xFF);
    EXPECT_EQ(block[107], 0x80);
    EXPECT_EQ(block[108], 0x11);
    EXPECT_EQ(Le(block, 109, 2), 2000u);
    EXPECT_EQ(block[111], 50);
    EXPECT_EQ(block[113], 0x8A);  // Schedule Backup, types 01 and 03
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[114])), "KELVOR");
    for (std::size_t i = 58; i < 128; ++i) {
        const bool field = i >= 107 && i <= 120;
        if (!field) {
            EXPECT_EQ(block[i], 0) << i;
        }
    }
    EXPECT_EQ(Le(block, 254, 2), BlockChecksum(block));
    std::uint32_t sum = 0;
    for (int i = 0; i < 254; ++i) sum += block[static_cast<std::size_t>(i)];
    EXPECT_EQ(BlockChecksum(block), sum & 0xFFFF);
}

TEST(ImageBuilder, SettingsAndSizes) {
    Builder b;
    b.Add("SPIHEAD.BIN", BootLoader(0x18000));
    b.settings.raidModeByJumper = false;
    b.settings.chip5080A = false;
    b.settings.fastBackup = true;
    ASSERT_EQ(ApplySettingTexts(b.settings, {"2", "0BB8H", "3", "60"}), "");
    b.settings.size = ImageSize::Bits8M;
    const BuiltImage built = b.Build();
    ASSERT_TRUE(built.Ok());
    EXPECT_EQ(built.bytes.size(), 0x100000u);
    const auto block = std::span(built.bytes).subspan(0x18000, 256);
    EXPECT_EQ(block[56], 0x11);
    EXPECT_EQ(block[57], 0x3F);
    EXPECT_EQ(block[107], 0x85);
    EXPECT_EQ(block[108], 0x32);
    EXPECT_EQ(block[109] | block[110] << 8, 3000);
    EXPECT_EQ(block[111], 60);
    EXPECT_EQ(block[113], 0x40);
    EXPECT_EQ(Le(built.bytes, 0x18000 + 52, 3), 0xC000u);
    // Past the configuration room, to the chosen size: erased.
    EXPECT_TRUE(std::all_of(built.bytes.begin() + 0x18100, built.bytes.end(),
                            [](auto v) { return v == 0xFF; }));

    BuilderSettings s;
    EXPECT_NE(ApplySettingTexts(s, {"16", "2000", "1", "50"}), "");  // four bits only
    EXPECT_NE(ApplySettingTexts(s, {"1", "2000", "1", "fifty"}), "");
    EXPECT_EQ(s.fans, 1);  // unchanged by a refusal
    EXPECT_EQ(ImageSizeFor(ImageSize::Bits1M, 0), 0x20000u);
    EXPECT_EQ(ImageSizeFor(ImageSize::Bits2M, 0), 0x40000u);
    EXPECT_EQ(ImageSizeFor(ImageSize::Bits4M, 0), 0x80000u);
}

TEST(ImageBuilder, TheSameSeedBuildsTheSameBytes) {
    Builder first, second, other;
    other.filler = Filler(8);
    for (Builder* b : {&first, &second, &other}) b->Add("SPIHEAD.BIN", BootLoader(0x18000));
    EXPECT_EQ(first.Build().bytes, second.Build().bytes);
    EXPECT_NE(first.Build().bytes, other.Build().bytes);
}

TEST(ImageBuilder, RefusalsWriteNothing) {
    struct Case {
        const char* what;
        std::function<void(Builder&)> setUp;
    };
    const Case cases[] = {
        {"no boot loader", [](Builder&) {}},
        {"boot loader too large",
         [](Builder& b) { b.Add("SPIHEAD.BIN", BootLoader(0x78000, 0xC001)); }},
        {"boot loader too short",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", {1, 2, 3});
         }},
        {"sub-code too large",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", BootLoader(0x78000));
             b.Add("SUB_01.BIN", Code(0xC001, 0));
         }},
        {"sub-code missing",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", BootLoader(0x78000));
             b.Add("SUB_01.BIN", {});
             b.files.files.erase("SUB_01.BIN");
         }},
        {"slots past L",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", BootLoader(0x18000));
             b.Add("SUB_01.BIN", Code(0x100, 0));
             b.Add("SUB_02.BIN", Code(0x100, 0));
         }},
        {"size below L + 0x8000",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", BootLoader(0x78000));
             b.settings.size = ImageSize::Bits2M;
         }},
        {"past 8 MiB", [](Builder& b) { b.Add("SPIHEAD.BIN", BootLoader(0xFFFF00)); }},
        {"more than ten sub-codes",
         [](Builder& b) {
             b.Add("SPIHEAD.BIN", BootLoader(0x100000));
             b.table.count = 11;
         }},
    };
    for (const Case& c : cases) {
        Builder b;
        c.setUp(b);
        const BuiltImage built = b.Build();
        EXPECT_FALSE(built.Ok()) << c.what;
        ASSERT_FALSE(built.messages.empty()) << c.what;
        EXPECT_EQ(built.messages.back().caption, "Error") << c.what;
    }
    Builder b;
    b.Add("SPIHEAD.BIN", BootLoader(0x78000));
    b.settings.size = ImageSize::Bits4M;  // exactly L + 0x8000
    EXPECT_TRUE(b.Build().Ok());
}

TEST(ImageBuilder, SaveName) {
    EXPECT_EQ(SaveNameFor("/out/image.rom"), "/out/image.bin");
    EXPECT_EQ(SaveNameFor("/out/image"), "/out/image.bin");
    EXPECT_EQ(SaveNameFor("/out.d/image"), "/out.d/image.bin");
    EXPECT_EQ(SaveNameFor("/out/image.bin"), "/out/image.bin");

    const auto dir = std::filesystem::temp_directory_path() / "image_builder_save_test";
    std::filesystem::create_directories(dir);
    const std::vector<std::uint8_t> bytes{1, 2, 3, 0xFF};
    SaveResult r = SaveImage(dir / "image.rom", bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.savedAs, dir / "image.bin");
    EXPECT_EQ(r.statusText, "Svae File OK :" + (dir / "image.bin").string());
    EXPECT_EQ(test_support::ReadFile(dir / "image.bin"), "\x01\x02\x03\xFF");
    r = SaveImage(dir / "missing" / "image", bytes);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messages, std::vector<firmware::Message>(
                              {{"Fail to create file", "Error", firmware::MessageIcon::Error}}));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid::tools
