#include "sim/fuse/enclosure_files.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/disk.h"

namespace raid::sim::fuse {
namespace {

constexpr std::uint64_t kSector = platform::kSectorSize;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool IsComment(std::string_view line) { return line.empty() || line.front() == '#'; }

}  // namespace

EnclosureFiles::EnclosureFiles(std::shared_ptr<ControllerEmulator> emulator)
    : emulator_(std::move(emulator)) {}

ssize_t EnclosureFiles::ReadDisk(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset >= kDiskBytes || out.empty()) return 0;
    const std::uint64_t end = std::min<std::uint64_t>(offset + out.size(), kDiskBytes);
    std::uint8_t sector[kSector];
    std::size_t done = 0;
    // A sector-aligned one-sector read is the usual case; other ranges are
    // still served sector by sector so the emulator sees each LBA once.
    for (std::uint64_t lba = offset / kSector; lba * kSector < end; ++lba) {
        if (!emulator_->Read(static_cast<std::uint32_t>(lba), sector)) return -EIO;
        const std::uint64_t from = std::max(offset, lba * kSector);
        const std::uint64_t to = std::min(end, (lba + 1) * kSector);
        std::copy(sector + (from - lba * kSector), sector + (to - lba * kSector),
                  out.data() + done);
        done += to - from;
    }
    return static_cast<ssize_t>(done);
}

std::string EnclosureFiles::WriteControl(std::string_view text) {
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = Trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (IsComment(line)) continue;
        if (line == "clear") {
            emulator_->ClearTrace();
            continue;
        }
        std::string error = emulator_->Control(std::string(line));
        if (!error.empty()) return error;
    }
    return {};
}

std::string EnclosureFiles::TraceText() const {
    const std::vector<std::uint32_t> trace = emulator_->Trace();
    std::string text;
    text.reserve(trace.size() * 8);
    char line[16];
    for (const std::uint32_t lba : trace) {
        const int n = std::snprintf(line, sizeof line, "0x%X\n", static_cast<unsigned>(lba));
        text.append(line, static_cast<std::size_t>(n));
    }
    return text;
}

void EnclosureFiles::ClearTrace() { emulator_->ClearTrace(); }

std::shared_ptr<ControllerEmulator> MakeEmulator(const std::string& scenario,
                                                 const std::string& scenarioFile,
                                                 platform::Clock* clock, std::string& error) {
    std::string name = scenario.empty() ? "raid1" : scenario;
    std::vector<std::pair<int, std::string>> lines;
    if (!scenarioFile.empty()) {
        std::ifstream in(scenarioFile);
        if (!in) {
            error = "Cannot read the scenario file " + scenarioFile + ".";
            return nullptr;
        }
        std::string raw;
        for (int number = 1; std::getline(in, raw); ++number) {
            const std::string_view line = Trim(raw);
            if (IsComment(line)) continue;
            if (line.starts_with("scenario ")) {
                if (!lines.empty()) {
                    error = scenarioFile + ":" + std::to_string(number) +
                            ": \"scenario\" must come before the other commands.";
                    return nullptr;
                }
                name = std::string(Trim(line.substr(9)));
                continue;
            }
            lines.emplace_back(number, std::string(line));
        }
    }
    std::optional<Enclosure> model = ScenarioEnclosure(name);
    if (!model) {
        error = "Unknown scenario \"" + name + "\".";
        return nullptr;
    }
    auto emulator = std::make_shared<ControllerEmulator>(std::move(*model), clock);
    for (const auto& [number, line] : lines) {
        std::string failure = EnclosureFiles(emulator).WriteControl(line);
        if (!failure.empty()) {
            error = scenarioFile + ":" + std::to_string(number) + ": " + failure;
            return nullptr;
        }
    }
    return emulator;
}

}  // namespace raid::sim::fuse
