// The emulator's text control lines, for tests and the FUSE control file.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <sstream>
#include <string_view>

#include "sim/emulator.h"
#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

constexpr std::size_t kMaxLineLength = 256;
constexpr std::uint8_t kStatePresent = 0;
constexpr std::uint8_t kStateRebuilding = 1;
constexpr std::uint8_t kStatePulled = 4;
constexpr std::uint8_t kStateInserted = 6;
constexpr std::uint8_t kStateFailed = 9;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line.substr(0, kMaxLineLength));
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::optional<std::uint64_t> Number(const std::string& text, std::uint64_t max, int base = 10) {
    std::string_view s(text);
    if (base == 16 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value > max)
        return std::nullopt;
    return value;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The value that `word` names in `table`, whatever its case.
template <class T, std::size_t N>
std::optional<T> Named(const std::pair<const char*, T> (&table)[N], const std::string& word) {
    const std::string lower = Lower(word);
    for (const auto& [name, value] : table)
        if (lower == name) return value;
    return std::nullopt;
}

}  // namespace

const char* ControllerEmulator::ControlHelp() {
    return "pull N | insert N | present N | fail N | rebuild N PERCENT | rebuild-done | "
           "rebuild-step PERCENT | mode raid0|raid1|jbod|bypass | silent on|off | noreply N | "
           "badsig N | status HEX|off | delay MS | temp C | fan RPM | buzzer Z|Y | backup PERIOD | "
           "readfail HEXLBA [TIMES] | spifail HEXADDRESS [TIMES] | word106 N HEX | "
           "diskfault N HEXATA PAGE fail|silent|echo [TIMES|always] | "
           "spifault read|program|erase HEXADDRESS fail|status|noreply|readfail|flip|vanish "
           "[TIMES|always] | settingfault keep|fail|noreply [TIMES|always] | "
           "cmdfault noreply|knockfail|readfail|badsig|status|slow|late|dropout|vanish [SKIP]   "
           "(N = member 1 or 2; PAGE 0 = the disk command, 1..4 = its data pages; SKIP = "
           "commands let through before the one spoiled)";
}

std::string ControllerEmulator::Control(const std::string& line) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return "empty control line";
    const std::string verb = Lower(w[0]);
    const std::size_t args = w.size() - 1;
    auto usage = [&]() { return "bad arguments for \"" + verb + "\"; usage: " + ControlHelp(); };
    auto arg = [&](std::size_t i, std::uint64_t max,
                   int base = 10) -> std::optional<std::uint64_t> {
        if (i > args) return std::nullopt;
        return Number(w[i], max, base);
    };
    auto member = [&]() -> std::optional<int> {
        const auto n = arg(1, 2);
        if (!n || *n < 1) return std::nullopt;
        return static_cast<int>(*n) - 1;
    };

    // Commands that set a member's state code.
    static const std::pair<const char*, std::uint8_t> kStateVerbs[] = {
        {"pull", kStatePulled},
        {"insert", kStateInserted},
        {"present", kStatePresent},
        {"fail", kStateFailed},
    };
    for (const auto& [name, state] : kStateVerbs) {
        if (verb != name) continue;
        const auto m = member();
        if (!m || args != 1) return usage();
        std::lock_guard lock(mutex_);
        model_.members[*m].state = state;
        return {};
    }

    if (verb == "rebuild") {
        const auto m = member();
        const auto percent = arg(2, 100);
        if (!m || !percent || args != 2) return usage();
        std::lock_guard lock(mutex_);
        model_.members[*m].state = kStateRebuilding;
        model_.rebuildTotal = ArrayCapacity(model_);
        model_.rebuildDone = SectorsAtPercent(model_.rebuildTotal, static_cast<unsigned>(*percent));
        return {};
    }
    if (verb == "rebuild-done" && args == 0) {
        std::lock_guard lock(mutex_);
        for (MemberDisk& m : model_.members)
            if (m.state == kStateRebuilding) m.state = kStatePresent;
        model_.rebuildDone = model_.rebuildTotal;
        return {};
    }
    if (verb == "rebuild-step") {
        const auto percent = arg(1, 100);
        if (!percent || args != 1) return usage();
        std::lock_guard lock(mutex_);
        model_.rebuildStepPercent = static_cast<std::uint8_t>(*percent);
        return {};
    }
    if (verb == "mode" && args == 1) {
        static const std::pair<const char*, std::uint8_t> kModes[] = {
            {"jbod", 0}, {"raid0", 1}, {"raid1", 2}, {"bypass", 3}};
        const std::string name = Lower(w[1]);
        for (const auto& [text, value] : kModes) {
            if (name != text) continue;
            std::lock_guard lock(mutex_);
            model_.arrayModeByte = value;
            return {};
        }
        return usage();
    }
    if (verb == "silent" && args == 1) {
        const std::string v = Lower(w[1]);
        if (v != "on" && v != "off") return usage();
        FailAllReads(v == "on");
        return {};
    }
    if (verb == "noreply" || verb == "badsig") {
        const auto n = arg(1, 1'000'000);
        if (!n || args != 1) return usage();
        if (verb == "noreply")
            FailNextReplies(static_cast<int>(*n));
        else
            CorruptSignatureB(static_cast<int>(*n));
        return {};
    }
    if (verb == "status" && args == 1) {
        if (Lower(w[1]) == "off") {
            SetStatusOverride(std::nullopt);
            return {};
        }
        const auto v = arg(1, 0xFF, 16);
        if (!v) return usage();
        SetStatusOverride(static_cast<std::uint8_t>(*v));
        return {};
    }
    if (verb == "delay") {
        const auto ms = arg(1, 600'000);
        if (!ms || args != 1) return usage();
        SetReplyDelayMs(static_cast<std::uint32_t>(*ms));
        return {};
    }
    if (verb == "temp" || verb == "fan" || verb == "backup") {
        const auto v = arg(1, verb == "fan" ? 0xFFFF : 0xFF);
        if (!v || args != 1) return usage();
        std::lock_guard lock(mutex_);
        if (verb == "temp")
            model_.temperature = static_cast<std::uint8_t>(*v);
        else if (verb == "fan")
            model_.fanRpm = static_cast<std::uint16_t>(*v);
        else
            SetBackupPeriod(model_, static_cast<std::uint8_t>(*v));
        return {};
    }
    if (verb == "buzzer" && args == 1) {
        if (w[1].size() != 1 || !std::isalpha(static_cast<unsigned char>(w[1][0]))) return usage();
        std::lock_guard lock(mutex_);
        model_.buzzerLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(w[1][0])));
        return {};
    }
    if (verb == "readfail" || verb == "spifail") {
        const auto where = arg(1, 0xFFFFFFFF, 16);
        const auto times = args >= 2 ? arg(2, 1'000'000) : std::optional<std::uint64_t>(1);
        if (!where || !times || args > 2) return usage();
        if (verb == "readfail")
            FailReadAt(static_cast<std::uint32_t>(*where), static_cast<int>(*times));
        else
            FailSpiProgramAt(static_cast<std::uint32_t>(*where), static_cast<int>(*times));
        return {};
    }
    if (verb == "word106") {
        const auto m = member();
        const auto value = arg(2, 0xFFFF, 16);
        if (!m || !value || args != 2) return usage();
        std::lock_guard lock(mutex_);
        model_.members[*m].word106 = static_cast<std::uint16_t>(*value);
        return {};
    }
    // The optional last word of a fault line: a count or "always" (-1).
    auto remaining = [&](std::size_t i) -> std::optional<int> {
        if (i > args) return 1;
        if (Lower(w[i]) == "always") return -1;
        const auto times = arg(i, 1'000'000);
        if (!times || *times == 0) return std::nullopt;
        return static_cast<int>(*times);
    };
    if (verb == "spifault") {
        static const std::pair<const char*, SpiOperation> kOperations[] = {
            {"read", SpiOperation::Read},
            {"program", SpiOperation::Program},
            {"erase", SpiOperation::Erase}};
        static const std::pair<const char*, SpiFaultKind> kKinds[] = {
            {"fail", SpiFaultKind::FailStatus}, {"status", SpiFaultKind::BadStatus},
            {"noreply", SpiFaultKind::NoReply}, {"readfail", SpiFaultKind::ReplyReadFails},
            {"flip", SpiFaultKind::FlipBit},    {"vanish", SpiFaultKind::Vanish}};
        const auto address = arg(2, 0xFFFFFFFF, 16);
        const auto times = remaining(4);
        if (!address || !times || args < 3 || args > 4) return usage();
        const auto operation = Named(kOperations, w[1]);
        const auto kind = Named(kKinds, w[3]);
        if (!operation || !kind) return usage();
        InjectSpiFault({*operation, static_cast<std::uint32_t>(*address), *kind, *times});
        return {};
    }
    if (verb == "diskfault") {
        static const std::pair<const char*, DiskFaultKind> kKinds[] = {
            {"fail", DiskFaultKind::FailStatus},
            {"silent", DiskFaultKind::NoReply},
            {"echo", DiskFaultKind::WrongEcho}};
        const auto m = member();
        const auto ata = arg(2, 0xFF, 16);
        const auto page = arg(3, 4);
        const auto times = remaining(5);
        if (!m || !ata || !page || !times || args < 4 || args > 5) return usage();
        const auto kind = Named(kKinds, w[4]);
        if (!kind) return usage();
        DiskFault fault;
        fault.member = *m;
        fault.ata = static_cast<std::uint8_t>(*ata);
        fault.page = static_cast<std::uint8_t>(*page);
        fault.kind = *kind;
        fault.remaining = *times;
        InjectDiskFault(fault);
        return {};
    }
    if (verb == "cmdfault") {
        static const std::pair<const char*, CommandFaultKind> kKinds[] = {
            {"noreply", CommandFaultKind::NoReply},
            {"knockfail", CommandFaultKind::KnockReadFails},
            {"readfail", CommandFaultKind::ReplyReadFails},
            {"badsig", CommandFaultKind::WrongSignature},
            {"status", CommandFaultKind::UnknownStatus},
            {"slow", CommandFaultKind::SlowReply},
            {"late", CommandFaultKind::LateReply},
            {"dropout", CommandFaultKind::MemberDropsOut},
            {"vanish", CommandFaultKind::Vanish}};
        const auto skip = args >= 2 ? arg(2, 1'000'000) : std::optional<std::uint64_t>(0);
        if (!skip || args < 1 || args > 2) return usage();
        const auto kind = Named(kKinds, w[1]);
        if (!kind) return usage();
        InjectCommandFault({*kind, *skip});
        return {};
    }
    if (verb == "settingfault") {
        static const std::pair<const char*, SettingFaultKind> kKinds[] = {
            {"keep", SettingFaultKind::KeepOld},
            {"fail", SettingFaultKind::FailStatus},
            {"noreply", SettingFaultKind::NoReply}};
        const auto times = remaining(2);
        if (!times || args < 1 || args > 2) return usage();
        const auto kind = Named(kKinds, w[1]);
        if (!kind) return usage();
        InjectSettingFault({*kind, *times});
        return {};
    }
    return "unknown control command \"" + w[0].substr(0, 32) + "\"; known: " + ControlHelp();
}

}  // namespace raid::sim
