#include "cli/raidctl_sim.h"

#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::cli {

std::unique_ptr<platform::DiskSystem> MakeSimulatedDisks(const std::string& scenario,
                                                         platform::Clock& clock,
                                                         std::string& error) {
    const std::string name = scenario.empty() ? "raid1" : scenario;
    auto model = sim::ScenarioEnclosure(name);
    if (!model) {
        error = "unknown scenario " + name + "; known:";
        for (const auto& n : sim::ScenarioNames()) error += " " + n;
        return nullptr;
    }
    auto disks = std::make_unique<sim::SimDiskSystem>();
    disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, &clock));
    disks->AddPlainDisk();
    return disks;
}

}  // namespace raid::cli
