// Makes the controller-reply seeds: runs the session of the fuzz target
// against the emulator in each scenario and writes the reply sectors it read,
// in the target's input form, to FOLDER/<scenario>.
//   seed_replies FOLDER [SCENARIO...]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/controller_session.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: seed_replies FOLDER [SCENARIO...]\n");
        return 1;
    }
    const std::filesystem::path folder = argv[1];
    std::vector<std::string> scenarios(argv + 2, argv + argc);
    if (scenarios.empty())
        scenarios = {"raid1",          "raid0", "rebuild",   "degraded",
                     "portmultiplier", "jbod",  "nosensors", "failed"};
    for (const auto& name : scenarios) {
        auto model = raid::sim::ScenarioEnclosure(name);
        if (!model) {
            std::fprintf(stderr, "no scenario %s\n", name.c_str());
            return 1;
        }
        auto emulator = std::make_shared<raid::sim::ControllerEmulator>(*model);
        std::string input;
        raid::fuzz::OneDiskSystem disks([&](std::uint32_t lba, std::span<std::uint8_t> sector) {
            const bool ok = emulator->Read(lba, sector);
            if (lba == raid::device::kReplyLba) {
                input.push_back(static_cast<char>(ok ? 0 : 3));
                input.append(reinterpret_cast<const char*>(sector.data()), sector.size());
            }
            return ok;
        });
        raid::fuzz::RunControllerSession(disks);
        std::ofstream(folder / name, std::ios::binary) << input;
        std::printf("%s: %zu replies\n", name.c_str(), input.size() / 513);
    }
    return 0;
}
