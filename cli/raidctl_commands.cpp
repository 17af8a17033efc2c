#include "cli/raidctl_commands.h"

#include <algorithm>
#include <vector>

#include "cli/raidctl_output.h"
#include "device/channel.h"
#include "device/protocol.h"
#include "discovery/headless.h"

namespace raid::cli {
namespace {

// Disk numbers are small; more digits than this is a typo, not a disk.
constexpr std::size_t kMaxNumberDigits = 6;

const char* ControllerTypeText(int type) {
    return type == device::kControllerPortMultiplier ? "port multiplier (hybrid) bridge"
                                                     : "RAID bridge";
}

}  // namespace

int ResolveDisk(Context& ctx, const std::string& text,
                const std::vector<platform::DiskInfo>& list) {
    if (text.size() <= kMaxNumberDigits) {
        if (const auto number = ParseDecimal(text)) return static_cast<int>(*number);
    }
    if (ctx.numberOfPath) return ctx.numberOfPath(text);
    for (const auto& d : list) {
        if (d.devicePath == text || d.name == text) return d.number;
    }
    return -1;
}

bool IsListed(int number, const std::vector<platform::DiskInfo>& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const auto& info) { return info.number == number; });
}

std::string NotADiskText(const std::string& text) {
    return text + " is not one of the physical disks (see 'raidctl disks')";
}

int RunDisks(Context& ctx, const Arguments& args) {
    const auto disks = ctx.disks.ListDisks();
    if (args.json) {
        Json list = Json::array();
        for (const auto& d : disks)
            list.push_back({{"number", d.number}, {"name", d.name}, {"devicePath", d.devicePath}});
        PrintJsonLine(list, ctx.out);
        return kExitOk;
    }
    if (disks.empty()) {
        ctx.err << "raidctl: no disks found\n";
        return kExitOk;
    }
    ctx.out << "DISK  DEVICE\n";
    for (const auto& d : disks) {
        std::string number = std::to_string(d.number);
        number.resize(std::max<std::size_t>(number.size() + 1, 6), ' ');
        ctx.out << number << d.devicePath << "\n";
    }
    return kExitOk;
}

int RunQuery(Context& ctx, const Arguments& args) {
    const auto list = ctx.disks.ListDisks();
    const int number = ResolveDisk(ctx, args.disk, list);
    if (number < 0) {
        ctx.err << "raidctl: " << args.disk
                << " is not one of the physical disks (see 'raidctl disks')\n";
        return kExitCannotOpen;
    }
    const std::string diskText = DiskText(number, list);

    device::CommandChannel ch(ctx.disks, ctx.clock);
    if (args.hasParams) {
        device::SetCommandParameters(ch, args.code, args.params[0], args.params[1], args.params[2]);
    }
    device::ReplySector reply{};
    const std::uint8_t result = device::QueryController(ch, number, args.code, reply);
    if (ch.lastOpenError != platform::OpenError::None) {
        ctx.err << "raidctl: " << ch.lastOpenMessage << "\n";
        return kExitCannotOpen;
    }
    // Only a signed reply says anything about the controller; otherwise the
    // buffer holds whatever the disk returned for block 17.
    const bool signedReply = device::RecognizeSignature(reply) >= 0;

    if (args.json) {
        PrintJsonLine({{"disk", number},
                       {"code", args.code},
                       {"result", result},
                       {"resultText", device::ResultText(result)},
                       {"controllerType", signedReply ? Json(ch.controllerType) : Json(nullptr)},
                       {"reply", HexString(reply)}},
                      ctx.out);
    } else if (signedReply) {
        ctx.out << diskText << ", command " << HexByte(args.code) << "\n"
                << "result: " << HexByte(result) << " (" << device::ResultText(result) << ")\n"
                << "controller type: " << int{ch.controllerType} << " ("
                << ControllerTypeText(ch.controllerType) << ")\n"
                << "reply sector:\n"
                << HexDump(reply);
    }

    if (result == device::kResultSuccess) return kExitOk;
    if (signedReply) {
        ctx.err << "raidctl: command " << HexByte(args.code) << " failed on " << diskText
                << ": the controller answered " << HexByte(result) << " ("
                << device::ResultText(result) << ")\n";
    } else if (result == device::kResultNoReply) {
        ctx.err << "raidctl: no signed reply from " << diskText << " to command "
                << HexByte(args.code) << " (result 0xF2): no enclosure controller answered\n";
    } else {
        ctx.err << "raidctl: command " << HexByte(args.code) << " failed on " << diskText
                << ": result " << HexByte(result) << " (" << device::ResultText(result) << ")\n";
    }
    return kExitCommandFailed;
}

}  // namespace raid::cli
