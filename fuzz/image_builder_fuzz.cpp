// The image builder's inputs: the boot loader and sub-code files (any bytes,
// any length), their file names (which carry the code types) and the
// number fields as typed. Whatever they hold, the builder refuses or builds
// an image of the size it promises.
//
// Input: text, a NUL byte, then the files' bytes. Text line 1 holds the four
// number fields separated by ','; line 2 an image size digit (0 automatic,
// 1..4 the fixed sizes); every further line is a file name as added.
// The bytes after the NUL are split evenly among the named files.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image_builder/image_builder.h"
#include "image_builder/number_text.h"
#include "image_builder/sub_code_table.h"

namespace {

class InputFiles final : public raid::firmware::FileSource {
public:
    std::map<std::string, std::span<const std::uint8_t>> files;

    bool Open(const std::filesystem::path& path) override {
        const auto it = files.find(path.string());
        if (it == files.end()) return false;
        open_ = it->second;
        return true;
    }
    std::optional<std::uint64_t> Size() override { return open_.size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset >= open_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(out.size(), open_.size() - offset);
        std::copy_n(open_.begin() + static_cast<long>(offset), n, out.begin());
        return n;
    }

private:
    std::span<const std::uint8_t> open_;
};

std::vector<std::string> Split(std::string_view text, char at) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(at, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid::tools;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    const std::string_view text = all.substr(0, nul);
    const std::span<const std::uint8_t> bytes = nul == std::string_view::npos
                                                    ? std::span<const std::uint8_t>()
                                                    : std::span(data + nul + 1, size - nul - 1);
    const auto lines = Split(text, '\n');

    BuilderSettings settings;
    const auto fields = Split(lines[0], ',');
    SettingTexts texts;
    std::string* const slots[] = {&texts.fans, &texts.fanAlarm, &texts.thermalSensors,
                                  &texts.thermalAlarm};
    for (std::size_t k = 0; k < 4 && k < fields.size(); ++k) *slots[k] = fields[k];
    const BuilderSettings before = settings;
    const std::string refusal = ApplySettingTexts(settings, texts);
    if (!refusal.empty() &&
        (settings.fans != before.fans || settings.fanAlarmRpm != before.fanAlarmRpm))
        std::abort();
    for (const auto& field : fields) {
        const auto value = ParseNumberText(field, 0xFFFF);
        if (value && *value > 0xFFFF) std::abort();
        NumberRefusal("Fan", field, 0xFFFF);
    }
    if (lines.size() > 1 && !lines[1].empty() && lines[1][0] >= '1' && lines[1][0] <= '4')
        settings.size = static_cast<ImageSize>(lines[1][0] - '0');

    std::vector<std::string> names(lines.begin() + std::min<std::size_t>(lines.size(), 2),
                                   lines.end());
    SubCodeTable table;
    AddFiles(table, names);
    for (const auto& name : names) CodeTypeFromFileName(name);
    for (int row = 0; row < kGridRows; ++row)
        for (int column = 0; column < kGridColumns; ++column) {
            GridCellText(table, row, column);
            CellDetailText(table, row, column);
        }

    InputFiles source;
    const std::size_t share = names.empty() ? 0 : bytes.size() / names.size();
    for (std::size_t k = 0; k < names.size(); ++k)
        source.files[names[k]] = bytes.subspan(k * share, share);
    Filler filler(1);
    const BuiltImage image = BuildImage(table, settings, filler, source);
    if (image.Ok() && (image.bytes.size() > kLargestImage ||
                       image.bytes.size() != ImageSizeFor(settings.size, image.configOffset)))
        std::abort();
    return 0;
}
