#pragma once
// The few options raidgui understands: --simulate[=SCENARIO], --settings
// FILE, --help and --version. Anything else is refused so that a typo does not silently run
// the program against the real disks.
#include <string>
#include <vector>

namespace raid::app {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool simulate = false;
    // Emulated enclosures, one scenario name each, in disk order.
    std::vector<std::string> scenarios;
    // The e-mail settings file; empty: the machine-wide one.
    std::string settingsFile;
    std::string error;  // for Action::Error
};

// The enclosures --simulate starts with when no scenario is named: a healthy
// mirror and a stripe set.
inline constexpr const char* kDefaultScenario = "raid1,raid0";

// `args` excludes the program name. `known` lists the scenario names the
// emulator accepts; a comma-separated SCENARIO names one enclosure per item.
CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::vector<std::string>& known);

std::string UsageText(const std::string& program, const std::vector<std::string>& known);

}  // namespace raid::app
