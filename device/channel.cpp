#include "device/channel.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

namespace raid::device {
namespace {

// Reply polls sleep this long between attempts.
constexpr std::uint32_t kPollPauseMs = 10;
constexpr std::uint32_t kTimeLimitIdentify = 1000;
constexpr std::uint32_t kTimeLimit = 3000;
constexpr std::uint32_t kDiskCommandPolls = 3;

void Pump(CommandChannel& ch) {
    if (ch.pump) ch.pump();
}

// Commands under way on this thread. A pump inside a command may run a
// handler that starts another one; it would reuse the request record and,
// on the same disk, wait forever for a lock its own thread holds.
thread_local int commandsUnderWay = 0;

void RefuseTurn(CommandChannel& ch, std::string why) {
    ch.lastOpenError = platform::OpenError::Busy;
    ch.lastOpenMessage = std::move(why);
}

constexpr const char* kReentryText = "another controller command is under way on this thread";

// One command's turn on a disk: refused on re-entry, otherwise waits
// (pumping) until the disk's command lock is free. Releases it at the end.
class CommandTurn {
public:
    CommandTurn(CommandChannel& ch, platform::DiskHandle& disk) : disk_(disk) {
        if (commandsUnderWay > 0) {
            RefuseTurn(ch, kReentryText);
            return;
        }
        ++commandsUnderWay;
        counted_ = true;
        const std::uint64_t start = ch.clock.NowMs();
        bool told = false;
        while (!disk.TryLockCommands()) {
            const std::uint64_t waited = ch.clock.NowMs() - start;
            if (waited >= kCommandLockLimitMs) {
                RefuseTurn(ch,
                           "the disk is busy: another program's controller command did not end "
                           "within " +
                               std::to_string(kCommandLockLimitMs / 1000) + " s");
                return;
            }
            if (!told && waited >= kCommandLockNoticeMs) {
                told = true;
                if (ch.onLockWait) ch.onLockWait();
            }
            Pump(ch);
            ch.clock.SleepMs(kCommandLockRetryMs);
            // The holder may be a thread of this process: let it run.
            std::this_thread::yield();
        }
        held_ = true;
    }
    ~CommandTurn() {
        if (held_) disk_.UnlockCommands();
        if (counted_) --commandsUnderWay;
    }
    CommandTurn(const CommandTurn&) = delete;
    CommandTurn& operator=(const CommandTurn&) = delete;
    bool Held() const { return held_; }

private:
    platform::DiskHandle& disk_;
    bool counted_ = false;
    bool held_ = false;
};

void PrepareRequest(CommandChannel& ch, std::uint8_t h1, std::uint8_t c0, std::uint8_t c1,
                    std::uint8_t c2, std::uint8_t c3, std::span<const std::uint8_t> payload) {
    const auto block = BuildCommandBlock(h1, c0, c1, c2, c3, payload);
    std::copy(block.begin(), block.end(), ch.request.block.begin());
    ch.request.payloadFlag = payload.empty() ? 0 : 1;
    const auto lbas = BuildKnockSequence(block);
    std::copy(lbas.begin(), lbas.end(), ch.request.lbaList.begin());
    ch.request.lbaCount = static_cast<std::uint32_t>(lbas.size());
}

// Steps 2 to 4 of every command: send, then wait. 0 when a reply was
// recognised.
std::uint8_t Exchange(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t limit) {
    if (SendKnockSequence(ch, disk) != 0) return kResultKnockReadFailed;
    return AwaitReply(ch, disk, limit);
}

std::uint8_t Finish(const CommandChannel& ch, std::uint8_t waitResult) {
    if (waitResult != 0) return waitResult;
    return ch.request.result == kStatusSuccess ? kResultSuccess : ch.request.result;
}

// The request is prepared only once the turn is held: a refused re-entry
// must not overwrite the request record of the command it interrupted.
template <typename Prepare>
std::uint8_t TakeTurnAndExchange(CommandChannel& ch, platform::DiskHandle& disk,
                                 std::uint32_t limit, Prepare prepare) {
    CommandTurn turn(ch, disk);
    if (!turn.Held()) return kResultOpenFailed;
    prepare();
    return Finish(ch, Exchange(ch, disk, limit));
}

// The frame of the commands that open the disk themselves.
std::uint8_t OpenedCommand(CommandChannel& ch, int diskNumber, std::uint8_t h1, std::uint8_t c0,
                           std::uint8_t c1, std::uint8_t c2, std::uint8_t c3,
                           std::span<const std::uint8_t> payload, std::uint32_t limit,
                           ReplySector& out) {
    if (commandsUnderWay > 0) {
        // Not even the open: it would overwrite the open-error fields.
        RefuseTurn(ch, kReentryText);
        return kResultOpenFailed;
    }
    auto disk = OpenDevice(ch, diskNumber);
    if (!disk) return kResultOpenFailed;
    CommandTurn turn(ch, *disk);
    if (!turn.Held()) return kResultOpenFailed;
    PrepareRequest(ch, h1, c0, c1, c2, c3, payload);
    if (SendKnockSequence(ch, *disk) != 0) return kResultKnockReadFailed;
    const std::uint8_t wait = AwaitReply(ch, *disk, limit);
    out = ch.request.reply;
    return Finish(ch, wait);
}

std::uint8_t SpiBlockHigh(std::uint32_t address) {
    return static_cast<std::uint8_t>(address >> 15);
}
std::uint8_t SpiBlockLow(std::uint32_t address) { return static_cast<std::uint8_t>(address >> 7); }

}  // namespace

std::unique_ptr<platform::DiskHandle> OpenDevice(CommandChannel& ch, int number) {
    platform::OpenResult r;
    try {
        r = ch.disks.OpenDisk(number);
    } catch (const std::exception& e) {
        r.error = platform::OpenError::Other;
        r.message = e.what();
        ReportException(ch, r.message);
    }
    ch.lastOpenError = r.error;
    ch.lastOpenMessage = r.message;
    return std::move(r.handle);
}

bool ReadOneSector(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t lba,
                   std::span<std::uint8_t> buffer) {
    if (buffer.size() < platform::kSectorSize) return false;
    try {
        return disk.ReadSectors(lba, buffer, 1);
    } catch (const std::exception& e) {
        ReportException(ch, e.what());
        return false;
    }
}

void ReportException(CommandChannel& ch, const std::string& what) {
    if (what == ch.lastException) return;
    ch.lastException = what;
    if (ch.onException) {
        ch.onException(what);
    } else {
        std::fprintf(stderr, "disk I/O error: %s\n", what.c_str());
    }
}

std::uint8_t SendKnockSequence(CommandChannel& ch, platform::DiskHandle& disk) {
    std::uint32_t previous = 0;
    const std::uint32_t count = std::min<std::uint32_t>(ch.request.lbaCount, kMaxKnockLength);
    for (std::uint32_t i = 0; i < count; ++i) {
        Pump(ch);
        const std::uint32_t lba = ch.request.lbaList[i];
        // The controller only sees changes of address: equal neighbours need a
        // separator read between them.
        if (lba == previous && !ReadOneSector(ch, disk, kSeparatorLba, ch.request.reply))
            return kResultKnockReadFailed;
        if (!ReadOneSector(ch, disk, lba, ch.request.reply)) return kResultKnockReadFailed;
        previous = lba;
    }
    return 0;
}

std::uint8_t AwaitReply(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t limit) {
    const std::uint64_t start = ch.clock.NowMs();
    std::uint32_t attempts = 0;
    for (;;) {
        Pump(ch);
        ReadOneSector(ch, disk, kSeparatorLba, ch.request.reply);  // result ignored by design
        if (!ReadOneSector(ch, disk, kReplyLba, ch.request.reply)) return kResultReplyReadFailed;
        ++attempts;
        const int type = RecognizeSignature(ch.request.reply);
        if (type >= 0) {
            ch.controllerType = static_cast<std::uint8_t>(type);
            ch.request.result = ReplyStatus(ch.request.reply[kStatusOffset]);
            return 0;
        }
        bool giveUp;
        if (limit >= 10)
            giveUp = (ch.clock.NowMs() - start) / 1000 > limit / 1000;
        else
            giveUp = attempts > limit;
        if (giveUp) break;
        ch.clock.SleepMs(kPollPauseMs);
    }
    ch.request.result = kResultNoReply;
    return kResultNoReply;
}

void SetCommandParameters(CommandChannel& ch, std::uint8_t code, std::uint8_t p1, std::uint8_t p2,
                          std::uint8_t p3) {
    ch.paramCode = code;
    ch.params[0] = p1;
    ch.params[1] = p2;
    ch.params[2] = p3;
}

std::uint8_t QueryController(CommandChannel& ch, int disk, std::uint8_t code, ReplySector& out) {
    const bool parameterised =
        code == cmd::kParamCommand76 || code == cmd::kParamCommand77 || code == cmd::kSetting;
    const std::uint8_t* p = parameterised ? ch.params : kDefaultParams;
    const std::uint32_t limit = code == cmd::kIdentify ? kTimeLimitIdentify : kTimeLimit;
    return OpenedCommand(ch, disk, 0x04, code, p[0], p[1], p[2], {}, limit, out);
}

std::uint8_t ReadSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address,
                     SpiBlock& out) {
    const std::uint8_t r = TakeTurnAndExchange(ch, disk, kTimeLimit, [&] {
        PrepareRequest(ch, 0x04, cmd::kReadSpi, 0x01, SpiBlockHigh(address), SpiBlockLow(address),
                       {});
    });
    if (r == kResultSuccess)
        std::copy_n(ch.request.reply.begin() + kDataWindowOffset, kPayloadSize, out.begin());
    return r;
}

std::uint8_t WriteSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address,
                      const SpiBlock& data) {
    return TakeTurnAndExchange(ch, disk, kTimeLimit, [&] {
        PrepareRequest(ch, 0x05, cmd::kWriteSpi, 0x01, SpiBlockHigh(address), SpiBlockLow(address),
                       data);
    });
}

std::uint8_t EraseSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address) {
    return TakeTurnAndExchange(ch, disk, kTimeLimit, [&] {
        PrepareRequest(ch, 0x05, cmd::kEraseSpi, 0x01, SpiBlockHigh(address), SpiBlockLow(address),
                       {});
    });
}

std::uint8_t IssueDiskCommand(CommandChannel& ch, int disk, std::uint8_t ata, std::uint8_t member,
                              ReplySector& out) {
    const auto fis = BuildDiskFis(ata);
    return OpenedCommand(ch, disk, 0x05, cmd::kDiskCommand, ata, member, 0x00, fis,
                         kDiskCommandPolls, out);
}

std::uint8_t ReadDiskCommandData(CommandChannel& ch, int disk, std::uint8_t ata,
                                 std::uint8_t member, std::uint8_t page, ReplySector& out) {
    return OpenedCommand(ch, disk, 0x04, cmd::kDiskCommandData, ata, member, page, {},
                         kDiskCommandPolls, out);
}

const char* ResultText(std::uint8_t result) {
    switch (result) {
        case kResultSuccess:
            return "success";
        case kResultOpenFailed:
            return "the disk could not be opened (or the controller reported status F0)";
        case kResultReplyReadFailed:
            return "reading the reply block failed";
        case kResultNoReply:
            return "no signed reply arrived in time";
        case kResultUnknownStatus:
            return "the reply carried an unknown status byte";
        case kResultKnockReadFailed:
            return "a read of the command sequence failed (or the controller reported status FF)";
        default:
            return "the controller reported a failure status";
    }
}

}  // namespace raid::device
