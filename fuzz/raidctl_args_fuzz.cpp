// raidctl's command line comes from people and scripts: any arguments end
// in a command, a help text or one line saying why not, and the make-bin
// options are read by the image builder's rules without fault.
//
// Input: the arguments, separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_make_bin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid::cli;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> args;
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find('\0', start), all.size());
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    const ParseResult parsed = ParseArguments(args);
    std::ostringstream out, err;
    const auto exit = AnswerCommandLine(parsed, out, err);
    if (!parsed.ok()) {
        // Usage errors are one line, with the usage code (monitor's is above
        // the health bits).
        if (exit != kExitUsage && exit != kExitMonitorUsage) std::abort();
        const std::string line = err.str();
        if (line.empty() || line.find('\n') != line.size() - 1) std::abort();
    }
    if (parsed.ok() && parsed.args.command == Command::MakeBin) {
        std::string error;
        ReadMakeBinOptions(parsed.args, error);
    }
    return 0;
}
