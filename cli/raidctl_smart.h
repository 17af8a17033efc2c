#pragma once
// `raidctl smart DISK`: one headless discovery, then the SMART threshold and
// data reads of the enclosure on DISK, printed per member disk as text or
// JSON: the model, the 4K sector line, the attribute rows and the verdict.
#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "cli/raidctl_commands.h"
#include "client/enclosure_access.h"
#include "smart/attributes.h"

namespace raid::cli {

struct SmartMember {
    std::string name;  // "HDD1", "HDD2"
    bool present = false;
    std::string model;
    std::uint32_t word106Code = 0;
    // The 4K line of word106Code, also for a disk without attribute rows.
    smart::FourKLine fourK;
    // The rows the window's grid shows and the verdict.
    smart::SmartView view;
};

struct SmartReport {
    int index = 0;  // as discovery numbered the enclosures: 0 = Device1
    int disk = 0;
    std::string path;
    std::string model;
    bool thresholdsRead = false;
    bool dataRead = false;
    std::array<SmartMember, 2> members;
};

void PrintSmartText(const SmartReport& report, std::ostream& out);
// One line: {"index":..,"members":[{..,"attributes":[..],"verdict":..}]}.
void PrintSmartJson(const SmartReport& report, std::ostream& out);

// 0 when both reads reached every present member; 2 when DISK is not a disk,
// or no enclosure was found because disks could not be opened; 3 when DISK
// holds no enclosure or a read was not answered in full; 4 when a member's
// verdict is "Error".
int RunSmart(Context& ctx, const Arguments& args);
int RunSmartVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);

}  // namespace raid::cli
