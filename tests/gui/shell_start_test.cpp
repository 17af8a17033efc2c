// Program start: the command line and the single-instance lock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/command_line.h"

namespace raid::app {
namespace {

const std::vector<std::string> kKnown = {"raid1", "raid0", "degraded"};

TEST(CommandLine, SimulateNamesTheEmulatedEnclosures) {
    CommandLine plain = ParseCommandLine({}, kKnown);
    EXPECT_EQ(plain.action, CommandLine::Action::Run);
    EXPECT_FALSE(plain.simulate);

    CommandLine byDefault = ParseCommandLine({"--simulate"}, kKnown);
    EXPECT_TRUE(byDefault.simulate);
    EXPECT_EQ(byDefault.scenarios, (std::vector<std::string>{"raid1", "raid0"}));

    CommandLine named = ParseCommandLine({"--simulate=degraded,raid1"}, kKnown);
    EXPECT_EQ(named.action, CommandLine::Action::Run);
    EXPECT_EQ(named.scenarios, (std::vector<std::string>{"degraded", "raid1"}));
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--simulate=nosuch"},
                                               {"--simulate="},
                                               {"--simulate=raid1,"},
                                               {"--simulate", "--simulate"},
                                               {"-platform"},
                                               {"/dev/sdb"}}) {
        EXPECT_EQ(ParseCommandLine(args, kKnown).action, CommandLine::Action::Error) << args[0];
    }
    EXPECT_EQ(ParseCommandLine({"--help"}, kKnown).action, CommandLine::Action::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}, kKnown).action, CommandLine::Action::Version);
}

TEST(CommandLine, SettingsNamesTheEmailSettingsFile) {
    EXPECT_EQ(ParseCommandLine({}, kKnown).settingsFile, "");  // the machine-wide one
    const CommandLine separate =
        ParseCommandLine({"--settings", "/tmp/s.reg", "--simulate"}, kKnown);
    EXPECT_EQ(separate.action, CommandLine::Action::Run);
    EXPECT_EQ(separate.settingsFile, "/tmp/s.reg");
    EXPECT_TRUE(separate.simulate);
    EXPECT_EQ(ParseCommandLine({"--settings=s.reg"}, kKnown).settingsFile, "s.reg");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--settings"}, {"--settings="}, {"--settings", "a", "--settings", "b"}}) {
        EXPECT_EQ(ParseCommandLine(args, kKnown).action, CommandLine::Action::Error) << args.size();
    }
}

}  // namespace
}  // namespace raid::app
