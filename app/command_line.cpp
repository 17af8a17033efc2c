#include "app/command_line.h"

#include <algorithm>

#include "mail/settings_store.h"
#include "sim/emulator.h"

namespace raid::app {
CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::vector<std::string>& known) {
    CommandLine result;
    auto fail = [&result](std::string why) {
        result.action = CommandLine::Action::Error;
        result.error = std::move(why);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (arg == "--settings" || arg.rfind("--settings=", 0) == 0) {
            if (!result.settingsFile.empty()) return fail("--settings given twice");
            if (arg == "--settings") {
                if (i + 1 == args.size()) return fail("--settings needs a file name");
                result.settingsFile = args[++i];
            } else {
                result.settingsFile = arg.substr(std::string("--settings=").size());
            }
            if (result.settingsFile.empty()) return fail("--settings needs a file name");
            continue;
        }
        std::string list;
        if (arg == "--simulate") {
            list = kDefaultScenario;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            list = arg.substr(std::string("--simulate=").size());
        } else {
            return fail("unknown option '" + arg + "'");
        }
        if (result.simulate) return fail("--simulate given twice");
        result.simulate = true;
        for (const std::string& name : sim::SplitScenarioList(list)) {
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                return fail("unknown scenario '" + name + "'");
            }
            result.scenarios.push_back(name);
        }
    }
    return result;
}

std::string UsageText(const std::string& program, const std::vector<std::string>& known) {
    std::string names;
    for (const std::string& name : known) names += (names.empty() ? "" : ", ") + name;
    return "Usage: " + program +
           " [--simulate[=SCENARIO[,SCENARIO...]]] [--settings FILE]\n"
           "\n"
           "Manages two-bay RAID enclosures attached by USB or eSATA.\n"
           "\n"
           "  --simulate[=LIST]  run against emulated enclosures instead of the\n"
           "                     machine's disks, one per scenario in LIST\n"
           "                     (default: " +
           std::string(kDefaultScenario) +
           ")\n"
           "  --settings FILE    the e-mail settings file\n"
           "                     (default: " +
           mail::DefaultSettingsFile().string() +
           ")\n"
           "  --help             show this text\n"
           "  --version          show the program version\n"
           "\n"
           "Scenarios: " +
           names +
           "\n"
           "\n"
           "Raw disk access needs root or membership of the 'disk' group.\n";
}

}  // namespace raid::app
