#include <gtest/gtest.h>

#include <sstream>
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
    EXPECT_FALSE(Parse({}).ok());
    EXPECT_EQ(Parse({"disks", "--help"}).args.command, Command::Help);

    EXPECT_EQ(ParseHexByte("0xfF"), 0xFF);
    EXPECT_EQ(ParseHexByte("7"), 0x07);
    EXPECT_FALSE(ParseHexByte("0x"));
    EXPECT_FALSE(ParseHexByte("g1"));
}

TEST(RaidctlOutput, HexDumpLines) {
    std::vector<std::uint8_t> bytes(18, 0x41);
    bytes[1] = 0x00;
    EXPECT_EQ(HexDump(bytes),
              "0000  41 00 41 41 41 41 41 41  41 41 41 41 41 41 41 41  |A.AAAAAAAAAAAAAA|\n"
              "0010  41 41                                             |AA|\n");
    EXPECT_EQ(JsonString("a\"b\\\n"), "\"a\\\"b\\\\\\u000a\"");
}

struct Run {
    std::ostringstream out, err;
    int code = -1;
};

Run Query(platform::DiskSystem& disks, std::vector<std::string_view> words) {
    platform::ManualClock clock;
    Run run;
    Context ctx{disks, clock, {}, run.out, run.err};
    const auto parsed = ParseArguments(words);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    run.code = RunQuery(ctx, parsed.args);
    return run;
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

}  // namespace
}  // namespace raid::cli
