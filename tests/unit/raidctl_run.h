#pragma once
// One raidctl command run in-process, as the program runs it once its
// command line is parsed.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_commands.h"

namespace raid::cli::test_support {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

// `words` parsed (they must be valid), then handed to `command`.
inline CliRun RunCommand(int (*command)(Context&, const Arguments&), platform::DiskSystem& disks,
                         platform::Clock& clock, std::vector<std::string_view> words) {
    const ParseResult parsed = ParseArguments(words);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    std::ostringstream out, err;
    Context ctx{disks, clock, {}, out, err};
    CliRun run;
    run.code = command(ctx, parsed.args);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Sets byte `offset` of every entry of attribute `id` in a SMART data or
// threshold block.
inline void SetAttributeByte(std::vector<std::uint8_t>& data, std::uint8_t id, std::size_t offset,
                             std::uint8_t value) {
    for (std::size_t at = 2; at + 12 <= 362 && at + 12 <= data.size(); at += 12)
        if (data[at] == id) data[at + offset] = value;
}

}  // namespace raid::cli::test_support
