#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_commands.h"
#include "cli/raidctl_output.h"
#include "cli/raidctl_sim.h"
#include "sim/sim_disks.h"

namespace raid::cli {
namespace {

ParseResult Parse(std::vector<std::string_view> words) { return ParseArguments(words); }

TEST(RaidctlArguments, QueryCodesParametersAndOptions) {
    auto r = Parse({"--json", "query", "/dev/loop0", "0x10"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::Query);
    EXPECT_TRUE(r.args.json);
    EXPECT_EQ(r.args.disk, "/dev/loop0");
    EXPECT_EQ(r.args.code, 0x10);
    EXPECT_FALSE(r.args.hasParams);

    r = Parse({"query", "1", "78", "33", "0xEF", "df", "--simulate=rebuild"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.args.hasParams);
    EXPECT_EQ(r.args.params, (std::array<std::uint8_t, 3>{0x33, 0xEF, 0xDF}));
    EXPECT_TRUE(r.args.simulate);
    EXPECT_EQ(r.args.scenario, "rebuild");
    r = Parse({"status", "--simulate", "1"});  // the disk, not a scenario
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.args.simulate);
    EXPECT_EQ(r.args.scenario, "");
    EXPECT_EQ(r.args.disk, "1");
    EXPECT_FALSE(Parse({"status"}).args.simulate);

    for (int code : {0x10, 0x11, 0x15, 0x17, 0x70, 0x75, 0x76, 0x78})
        EXPECT_TRUE(IsQueryCode(code));
    for (int code : {0x00, 0x12, 0x20, 0x23, 0x25, 0x6F, 0x79, 0xB1, 0xB2}) {
        EXPECT_FALSE(IsQueryCode(code)) << code;
    }
    EXPECT_FALSE(Parse({"query", "0", "0x20"}).ok());                 // has its own operation
    EXPECT_FALSE(Parse({"query", "0", "0x11", "1", "2", "3"}).ok());  // takes no parameters
    EXPECT_FALSE(Parse({"query", "0", "0x78"}).ok());                 // needs all three
    EXPECT_FALSE(Parse({"query", "0", "0x78", "1", "2"}).ok());
    EXPECT_FALSE(Parse({"query", "0", "0x100"}).ok());
    EXPECT_FALSE(Parse({"query", "0"}).ok());
    EXPECT_FALSE(Parse({"disks", "extra"}).ok());
    EXPECT_FALSE(Parse({"--frobnicate", "disks"}).ok());
    EXPECT_FALSE(Parse({"query", "0", "0x10", "--simulate="}).ok());  // an empty scenario
    EXPECT_FALSE(Parse({}).ok());
    EXPECT_FALSE(Parse({"frobnicate"}).ok());
}

TEST(RaidctlArguments, NumberTexts) {
    EXPECT_EQ(ParseHexByte("0xfF"), 0xFF);
    EXPECT_EQ(ParseHexByte("0X1f"), 0x1F);
    EXPECT_EQ(ParseHexByte("7"), 0x07);
    for (const char* bad : {"", "0x", "g1", "100", "0x100", "-1", "+1", " 1", "1 ", "0x-1"})
        EXPECT_FALSE(ParseHexByte(bad)) << bad;

    EXPECT_EQ(ParseDecimal("010"), 10u);  // decimal, never octal
    EXPECT_EQ(ParseDecimal("4294967295"), 4294967295u);
    EXPECT_EQ(ParseDecimal("100", 100), 100u);
    for (const char* bad : {"", "4294967296", "0x10", "-1", "+1", " 1", "1 ", "1.5"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
    EXPECT_FALSE(ParseDecimal("101", 100));

    // The monitor counts take the same decimal texts, whatever CLI11 would read.
    const auto r = Parse({"monitor", "--polls", "010", "--interval-ms=0100"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.polls, 10u);
    EXPECT_EQ(r.args.intervalMs, 100u);
    EXPECT_FALSE(Parse({"monitor", "--polls", "0x10"}).ok());
    EXPECT_FALSE(Parse({"monitor", "--polls", " 5"}).ok());
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RaidctlCommandLine, HelpAndVersionComeFromTheParser) {
    const auto main = Parse({"--help"});
    ASSERT_TRUE(main.ok()) << main.error;
    EXPECT_EQ(main.args.command, Command::None);
    EXPECT_TRUE(Has(main.info, "Usage: raidctl [OPTIONS] SUBCOMMAND\n")) << main.info;
    for (const char* part :
         {"  --simulate[=SCENARIO]  ", "  --json  ", "  --version  ", "  disks  ", "  list  ",
          "  status  ", "  query  ", "  monitor  ", "Exit codes:\n  0   success\n",
          "\n  64  monitor: usage\n", "\n  75  busy: "})
        EXPECT_TRUE(Has(main.info, part)) << part << "\n" << main.info;
    EXPECT_FALSE(Has(main.info, "{")) << main.info;

    const auto status = Parse({"status", "--help"});
    EXPECT_TRUE(Has(status.info, "Usage: raidctl status [OPTIONS] [DISK]\n")) << status.info;
    EXPECT_TRUE(Has(status.info, "  --json  ")) << status.info;
    EXPECT_FALSE(Has(status.info, "query")) << status.info;

    const auto query = Parse({"query", "--help"});
    EXPECT_TRUE(Has(query.info, "Usage: raidctl query [OPTIONS] DISK CODE [P1] [P2] [P3]\n"))
        << query.info;
    EXPECT_TRUE(Has(query.info, "CODE HEX REQUIRED")) << query.info;
    EXPECT_TRUE(Has(query.info, "codes 0x76..0x78 need P1 P2 P3")) << query.info;

    // Help wins over what else is on the line, as before.
    const auto disks = Parse({"disks", "extra", "--help"});
    EXPECT_TRUE(Has(disks.info, "Usage: raidctl disks [OPTIONS]\n")) << disks.info;
    EXPECT_EQ(disks.args.command, Command::None);

    EXPECT_EQ(Parse({"--version"}).info, "raidctl v0.50.11-5\n");
    EXPECT_EQ(Parse({"status", "--version"}).info, "raidctl v0.50.11-5\n");

    std::ostringstream out, err;
    EXPECT_EQ(AnswerCommandLine(status, out, err), kExitOk);
    EXPECT_EQ(out.str(), status.info);
    EXPECT_EQ(err.str(), "");
}

// What the program prints and returns for `words`; code -1 when a command
// would run.
struct Answer {
    int code = -1;
    std::string out, err;
};

Answer AnswerOf(std::vector<std::string_view> words) {
    std::ostringstream out, err;
    Answer a;
    a.code = AnswerCommandLine(ParseArguments(words), out, err).value_or(-1);
    a.out = out.str();
    a.err = err.str();
    return a;
}

TEST(RaidctlCommandLine, UsageErrorsAreOneLineAndExitOneOrForMonitor64) {
    const Answer unknown = AnswerOf({"--simulate", "status", "--bogus"});
    EXPECT_EQ(unknown.code, kExitUsage);
    EXPECT_EQ(unknown.err,
              "raidctl: The following argument was not expected: --bogus "
              "(see 'raidctl status --help')\n");
    // Above the health bits of monitor --once.
    const Answer badNumber = AnswerOf({"monitor", "--polls", "5s"});
    EXPECT_EQ(badNumber.code, kExitMonitorUsage);
    EXPECT_EQ(badNumber.err,
              "raidctl: --polls: 5s is not a number from 1 to 100000000 "
              "(see 'raidctl monitor --help')\n");
    EXPECT_EQ(AnswerOf({"--json", "stauts"}).err,
              "raidctl: unknown command stauts (see 'raidctl --help')\n");
    EXPECT_EQ(AnswerOf({"--bogus"}).err,
              "raidctl: The following argument was not expected: --bogus (see 'raidctl --help')\n");
    EXPECT_EQ(AnswerOf({}).err, "raidctl: A subcommand is required (see 'raidctl --help')\n");
    const Answer badCode = AnswerOf({"query", "0", "0x20"});
    EXPECT_TRUE(Has(badCode.err, "command 0x20 is not sent by query")) << badCode.err;

    for (const auto& words :
         std::vector<std::vector<std::string_view>>{{},
                                                    {"--bogus", "disks"},
                                                    {"frobnicate"},
                                                    {"status", "0", "1"},
                                                    {"status", "--polls", "2"},
                                                    {"monitor", "--interval-ms", "99"},
                                                    {"monitor", "--interval-ms"},
                                                    {"query", "0", "zz"},
                                                    {"query", "0", "0x78", "1", "2"},
                                                    {"query", "0", "0x11", "1", "2", "3"},
                                                    {"--simulate=", "list"},
                                                    {"--simulate=", "monitor", "--once"},
                                                    // typed text quoted back on one line
                                                    {"status", "a\nb", "c\r\n"},
                                                    {"monitor", "--polls", "5\n6"},
                                                    {"st\natus"}}) {
        const Answer a = AnswerOf(words);
        const std::string line = testing::PrintToString(words);
        const bool monitor = std::find(words.begin(), words.end(), "monitor") != words.end();
        EXPECT_EQ(a.code, monitor ? kExitMonitorUsage : kExitUsage) << line;
        EXPECT_EQ(a.out, "") << line;
        EXPECT_EQ(a.err.rfind("raidctl: ", 0), 0u) << line << ": " << a.err;
        EXPECT_EQ(std::count(a.err.begin(), a.err.end(), '\n'), 1) << line << ": " << a.err;
        EXPECT_EQ(a.err.back(), '\n') << line;
    }

    const Answer valid = AnswerOf({"query", "0", "0x10", "--json"});
    EXPECT_EQ(valid.code, -1);
    EXPECT_EQ(valid.out + valid.err, "");
}

TEST(RaidctlOutput, HexDumpAndJsonLines) {
    std::vector<std::uint8_t> bytes(18, 0x41);
    bytes[1] = 0x00;
    EXPECT_EQ(HexDump(bytes),
              "0000  41 00 41 41 41 41 41 41  41 41 41 41 41 41 41 41  |A.AAAAAAAAAAAAAA|\n"
              "0010  41 41                                             |AA|\n");

    std::ostringstream json;
    // Keys stay in the order they were set; texts are escaped; bytes that are
    // not UTF-8 do not fail the line.
    PrintJsonLine({{"z", 1}, {"a", "q\"b\\\x01"}, {"m", nullptr}, {"bad", "\xff"}}, json);
    EXPECT_EQ(json.str(),
              "{\"z\":1,\"a\":\"q\\\"b\\\\\\u0001\",\"m\":null,\"bad\":\"\xef\xbf\xbd\"}\n");
}

struct Run {
    std::ostringstream out, err;
    int code = -1;
};

// `words` parsed, then run by `command`.
Run Raidctl(int (*command)(Context&, const Arguments&), platform::DiskSystem& disks,
            std::vector<std::string_view> words) {
    platform::ManualClock clock;
    Run run;
    Context ctx{disks, clock, {}, run.out, run.err};
    const auto parsed = ParseArguments(words);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    run.code = command(ctx, parsed.args);
    return run;
}

Run Query(platform::DiskSystem& disks, std::vector<std::string_view> words) {
    return Raidctl(RunQuery, disks, std::move(words));
}

TEST(RaidctlQuery, ReplyNoReplyAndOpenFailure) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("", clock, error);
    ASSERT_TRUE(disks) << error;

    auto ok = Query(*disks, {"query", "0", "0x10"});
    EXPECT_EQ(ok.code, kExitOk);
    EXPECT_NE(ok.out.str().find("result: 0x00 (success)"), std::string::npos);
    EXPECT_NE(ok.out.str().find("|__DRAMLET6182A__|"), std::string::npos);

    auto json = Query(*disks, {"--json", "query", "/dev/sim0", "17"});
    EXPECT_EQ(json.code, kExitOk);
    EXPECT_EQ(json.out.str().rfind("{\"disk\":0,\"code\":23,\"result\":0,", 0), 0u);

    auto silent = Query(*disks, {"query", "1", "0x10"});  // a plain disk
    EXPECT_EQ(silent.code, kExitCommandFailed);
    EXPECT_EQ(silent.out.str(), "");
    EXPECT_NE(silent.err.str().find("no signed reply"), std::string::npos);

    auto missing = Query(*disks, {"query", "5", "0x10"});
    EXPECT_EQ(missing.code, kExitCannotOpen);
    auto unknownPath = Query(*disks, {"query", "/dev/nothing", "0x10"});
    EXPECT_EQ(unknownPath.code, kExitCannotOpen);
}

TEST(RaidctlDisks, TextAndJson) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("", clock, error);
    ASSERT_TRUE(disks) << error;
    const auto text = Raidctl(RunDisks, *disks, {"disks"});
    const auto json = Raidctl(RunDisks, *disks, {"disks", "--json"});
    EXPECT_EQ(text.code, kExitOk);
    EXPECT_EQ(json.code, kExitOk);
    EXPECT_EQ(text.out.str(), "DISK  DEVICE\n0     /dev/sim0\n1     /dev/sim1\n");
    EXPECT_EQ(json.out.str(),
              "[{\"number\":0,\"name\":\"sim0\",\"devicePath\":\"/dev/sim0\"},"
              "{\"number\":1,\"name\":\"sim1\",\"devicePath\":\"/dev/sim1\"}]\n");
}

}  // namespace
}  // namespace raid::cli
