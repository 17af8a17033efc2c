#include "cli/raidctl_make_bin.h"

#include <cctype>
#include <chrono>

#include "firmware/file_bytes.h"
#include "image_builder/number_text.h"

namespace raid::cli {
namespace {

std::optional<bool> OnOff(const std::string& text) {
    if (text == "on" || text == "true" || text == "TRUE" || text == "1") return true;
    if (text == "off" || text == "false" || text == "FALSE" || text == "0") return false;
    return std::nullopt;
}

// The grid's update-flag words, any letter case.
std::optional<bool> FlagText(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text == "TRUE") return true;
    if (text == "FALSE") return false;
    return std::nullopt;
}

std::optional<tools::ImageSize> SizeOf(const std::string& text) {
    using tools::ImageSize;
    if (text == "auto") return ImageSize::Auto;
    const struct {
        const char* name;
        std::uint32_t bytes;
        ImageSize size;
    } sizes[] = {{"1M", 0x20000, ImageSize::Bits1M},
                 {"2M", 0x40000, ImageSize::Bits2M},
                 {"4M", 0x80000, ImageSize::Bits4M},
                 {"8M", 0x100000, ImageSize::Bits8M}};
    std::optional<std::uint32_t> bytes;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        bytes = tools::ParseNumberText(text.substr(2) + "H", 0xFFFFFFFF);
    else
        bytes = tools::ParseNumberText(text, 0xFFFFFFFF);
    for (const auto& s : sizes)
        if (text == s.name || (bytes && *bytes == s.bytes)) return s.size;
    return std::nullopt;
}

// FILE[:TYPE[:FLAG]]: trailing fields that read as a type (and a flag) are
// taken off; the rest, colons and all, is the file.
bool AddSubCode(tools::SubCodeTable& table, const std::string& spec, std::string& error) {
    std::string file = spec;
    std::optional<std::uint8_t> type;
    std::optional<bool> flag;
    auto lastField = [&file] {
        const auto colon = file.rfind(':');
        return colon == std::string::npos ? std::string() : file.substr(colon + 1);
    };
    auto dropField = [&file] { file.erase(file.rfind(':')); };
    if (const auto f = FlagText(lastField()); f && file.find(':') != std::string::npos) {
        flag = f;
        dropField();
    }
    if (file.find(':') != std::string::npos) {
        const std::string text = lastField();
        const auto value = tools::ParseNumberText(text, 0xFF);
        if (value) {
            type = static_cast<std::uint8_t>(*value);
            dropField();
        } else if (flag) {
            error = "--sub " + spec + ": " + tools::NumberRefusal("the code type", text, 0xFF);
            return false;
        }
    }
    if (file.empty()) {
        error = "--sub " + spec + ": no file";
        return false;
    }
    const int before = table.count;
    error = tools::AddFiles(table, {file});
    if (!error.empty()) return false;
    // A boot loader given as a sub-code replaced entry 0 and added no row.
    if (table.count == before) return true;
    const int row = table.count + 1;
    if (type) tools::SetCodeType(table, row, *type);
    if (flag) tools::SetUpdateFlag(table, row, *flag);
    return true;
}

bool ApplySetting(MakeBinRequest& r, const std::string& setting, std::string& error) {
    const auto eq = setting.find('=');
    const std::string name = setting.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : setting.substr(eq + 1);
    bool* const flags[] = {&r.settings.raidModeByJumper, &r.settings.chip5080A,
                           &r.settings.scheduleBackup, &r.settings.fastBackup};
    const char* const flagNames[] = {"raid-mode-by-jumper", "chip-5080a", "schedule-backup",
                                     "fast-backup"};
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        if (name != flagNames[i]) continue;
        const auto on = OnOff(value);
        if (!on) {
            error = "--setting " + setting + ": give on or off";
            return false;
        }
        *flags[i] = *on;
        return true;
    }
    std::string* const texts[] = {&r.settingTexts.fans, &r.settingTexts.fanAlarm,
                                  &r.settingTexts.thermalSensors, &r.settingTexts.thermalAlarm};
    const char* const textNames[] = {"fans", "fan-alarm", "thermal-sensors", "thermal-alarm"};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (name != textNames[i]) continue;
        *texts[i] = value;  // read with the window's number rules when building
        return true;
    }
    error = "--setting " + setting + ": unknown setting (see 'raidctl make-bin --help')";
    return false;
}

}  // namespace

std::optional<MakeBinRequest> ReadMakeBinOptions(const Arguments& args, std::string& error) {
    MakeBinRequest r;
    r.table.entries[0].path = args.bootFile;
    for (const std::string& spec : args.subCodes)
        if (!AddSubCode(r.table, spec, error)) return std::nullopt;
    const auto size = SizeOf(args.imageSize);
    if (!size) {
        error = "--size " + args.imageSize +
                ": give auto, 1M, 2M, 4M, 8M or 0x20000, 0x40000, 0x80000, 0x100000";
        return std::nullopt;
    }
    r.settings.size = *size;
    for (const std::string& setting : args.settings)
        if (!ApplySetting(r, setting, error)) return std::nullopt;
    error = tools::ApplySettingTexts(r.settings, r.settingTexts);
    if (!error.empty()) return std::nullopt;
    return r;
}

int RunMakeBin(Context& ctx, const Arguments& args) {
    std::string error;
    const auto request = ReadMakeBinOptions(args, error);
    if (!request) {
        ctx.err << "raidctl: " << OneLine(error) << "\n";
        return kExitUsage;
    }
    const auto seed = args.fillerSeed.value_or(static_cast<std::uint32_t>(
        std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1)));
    tools::Filler filler(seed);
    firmware::PosixFileSource source;
    const tools::BuiltImage built =
        tools::BuildImage(request->table, request->settings, filler, source);
    for (const firmware::Message& m : built.messages)
        ctx.err << "raidctl: " << (m.caption.empty() ? "" : m.caption + " ") << m.text << "\n";
    if (!built.Ok()) return kExitRefused;
    const tools::SaveResult saved = tools::SaveImage(args.outFile, built.bytes);
    for (const firmware::Message& m : saved.messages)
        ctx.err << "raidctl: " << m.text << ": " << saved.savedAs.string() << "\n";
    if (!saved.ok) return kExitCommandFailed;
    ctx.out << "image of " << built.bytes.size() << " bytes, configuration block at "
            << built.configOffset << "\n"
            << saved.statusText << "\n";
    return kExitOk;
}

}  // namespace raid::cli
