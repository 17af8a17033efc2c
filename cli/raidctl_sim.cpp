#include "cli/raidctl_sim.h"

#include <vector>

#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::cli {
namespace {

// Physical disks are numbered 0..9; one number stays for the plain disk.
constexpr std::size_t kMaxEnclosures = 9;

std::string KnownNames() {
    std::string known = "; known:";
    for (const auto& n : sim::ScenarioNames()) known += " " + n;
    return known;
}

}  // namespace

std::unique_ptr<platform::DiskSystem> MakeSimulatedDisks(const std::string& scenario,
                                                         platform::Clock& clock,
                                                         std::string& error) {
    const auto names = sim::SplitScenarioList(scenario.empty() ? "raid1" : scenario);
    if (names.size() > kMaxEnclosures) {
        error = "at most " + std::to_string(kMaxEnclosures) + " simulated enclosures";
        return nullptr;
    }
    auto disks = std::make_unique<sim::SimDiskSystem>();
    int bridges = 0;
    for (const auto& name : names) {
        auto model = sim::ScenarioEnclosure(name);
        if (!model) {
            error =
                (name.empty() ? std::string("empty scenario name") : "unknown scenario " + name) +
                KnownNames();
            return nullptr;
        }
        // Each its own bridge, as two real enclosures would have.
        model->bridgeSerial = "SIM-BRIDGE-" + std::to_string(++bridges);
        disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, &clock));
    }
    disks->AddPlainDisk();
    return disks;
}

}  // namespace raid::cli
