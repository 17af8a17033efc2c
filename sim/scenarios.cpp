// Named starting states of the emulated enclosure.
#include <utility>

#include "sim/emulator.h"
#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

constexpr std::uint64_t kSectors1TB = 1953525168;
constexpr std::uint64_t kSectors500GB = 976773168;
constexpr std::uint64_t kSectors256GB = 500118192;

Enclosure Mirror() {
    Enclosure e;
    e.arrayModeByte = 2;
    e.controllerModel = "SIM RAID1 ENCLOSURE";
    e.members[0].model = "SIM-DISK 1000GB";
    e.members[0].serial = "SIM1000A0001";
    e.members[1].model = "SIM-DISK 1000GB";
    e.members[1].serial = "SIM1000A0002";
    e.members[0].capacitySectors = e.members[1].capacitySectors = kSectors1TB;
    return e;
}

Enclosure Stripe() {
    Enclosure e;
    e.arrayModeByte = 1;
    e.controllerModel = "SIM RAID0 ENCLOSURE";
    e.members[0].model = "SIMDRIVE SD500";
    e.members[0].serial = "SD500B7001";
    e.members[1].model = "SIMDRIVE SD500";
    e.members[1].serial = "SD500B7002";
    e.members[0].firmware = e.members[1].firmware = "SD02";
    e.members[0].word106 = e.members[1].word106 = 0x4000;  // 512-byte physical sectors
    e.members[0].capacitySectors = e.members[1].capacitySectors = kSectors500GB;
    return e;
}

Enclosure Rebuilding() {
    Enclosure e = Mirror();
    e.members[1].state = 1;
    e.rebuildTotal = ArrayCapacity(e);
    e.rebuildDone = SectorsAtPercent(e.rebuildTotal, 45);
    return e;
}

Enclosure Degraded() {
    Enclosure e = Mirror();
    e.members[1].state = 4;
    return e;
}

// A hybrid unit: an SSD backed up to an HDD on a schedule, HDD1 in the first
// port block.
Enclosure PortMultiplier() {
    Enclosure e;
    e.controllerType = 1;
    e.arrayModeByte = 2;
    e.controllerModel = "SIM HYBRID SSD+HDD";
    e.firmwareCode[3] = 0x11;
    e.productCode[0] = 0x21;
    e.productCode[1] = 0x09;
    e.members[0].model = "SIM-SSD 256GB";
    e.members[0].serial = "SSD256C0001";
    e.members[0].capacitySectors = kSectors256GB;
    e.members[0].word106 = 0x4000;
    e.members[1].model = "SIM-DISK 1000GB";
    e.members[1].serial = "SIM1000C0002";
    e.members[1].capacitySectors = kSectors1TB;
    e.settingCapabilityBits = 0x03;
    SetBackupPeriod(e, 1);
    e.backupTimeToNext = 4321;
    return e;
}

Enclosure NoName() {
    Enclosure e = Mirror();
    e.controllerModel.clear();
    e.inquiryVendor = "SIMVNDR ";
    e.inquiryProduct = "NONAME RAID BOX ";
    return e;
}

Enclosure Jbod() {
    Enclosure e = Stripe();
    e.arrayModeByte = 0;
    e.controllerModel = "SIM JBOD ENCLOSURE";
    return e;
}

Enclosure NoSensors() {
    Enclosure e = Mirror();
    e.hasSensors = false;
    e.buzzerCapability = false;
    e.scheduleCapability = false;
    return e;
}

// A mirror whose controller has no schedule backup: the window offers its
// E-mail page in place of Setup, so its lost members are mailed.
Enclosure NoSchedule() {
    Enclosure e = Mirror();
    e.scheduleCapability = false;
    e.settingCapabilityBits = 0x01;
    return e;
}

Enclosure FailedMember() {
    Enclosure e = Mirror();
    e.members[0].state = 9;
    return e;
}

constexpr std::pair<const char*, Enclosure (*)()> kScenarios[] = {
    {"raid1", Mirror},
    {"raid0", Stripe},
    {"rebuild", Rebuilding},
    {"degraded", Degraded},
    {"portmultiplier", PortMultiplier},
    {"noname", NoName},
    {"jbod", Jbod},
    {"nosensors", NoSensors},
    {"failed", FailedMember},
    {"noschedule", NoSchedule},
};

}  // namespace

std::optional<Enclosure> ScenarioEnclosure(const std::string& name) {
    for (const auto& [key, make] : kScenarios) {
        if (name != key) continue;
        Enclosure e = make();
        CompleteModel(e);
        return e;
    }
    return std::nullopt;
}

std::vector<std::string> SplitScenarioList(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = list.find_first_of(",+", start);
        names.push_back(list.substr(start, cut == std::string::npos ? cut : cut - start));
        if (cut == std::string::npos) return names;
        start = cut + 1;
    }
}

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    for (const auto& s : kScenarios) names.emplace_back(s.first);
    return names;
}

}  // namespace raid::sim
