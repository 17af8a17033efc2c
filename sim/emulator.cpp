#include "sim/emulator.h"

#include <algorithm>
#include <cstring>

#include "platform/disk.h"
#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

constexpr std::size_t kTraceLimit = 1 << 20;
// A served enclosure runs for days: its list of executed commands keeps only
// the latest (tests look at a few thousand at most); the count goes on.
constexpr std::size_t kExecutedLimit = 1 << 16;
// Sixteen bytes that are neither controller's signature B.
constexpr char kCorruptSignature[] = "__CORRUPTED_SIG_";
constexpr std::uint8_t kStatePulled = 4;

void CopyPadded(std::span<std::uint8_t> field, const std::string& text) {
    for (std::size_t i = 0; i < field.size(); ++i)
        field[i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

}  // namespace

ControllerEmulator::ControllerEmulator(Enclosure model, platform::Clock* clock)
    : model_(std::move(model)), clock_(clock) {
    CompleteModel(model_);
}

bool ControllerEmulator::Read(std::uint32_t lba, std::span<std::uint8_t> out) {
    std::lock_guard lock(mutex_);
    Record(lba);
    if (out.size() < device::kReplySize || failAll_ || TakeReadFault(lba)) return false;

    switch (decoder_.Feed(lba)) {
        case KnockDecoder::Event::Started:
            replyArmed_ = false;  // a new command replaces the last answer
            ++sequencesStarted_;
            break;
        case KnockDecoder::Event::Complete: {
            const auto fault = TakeCommandFault();
            if (fault == CommandFaultKind::KnockReadFails) {
                replyArmed_ = false;
                return false;
            }
            if (fault == CommandFaultKind::MemberDropsOut) model_.members[1].state = kStatePulled;
            CompleteModel(model_);
            const auto block = decoder_.Block();
            if (executed_.size() >= kExecutedLimit)
                executed_.erase(executed_.begin(), executed_.begin() + kExecutedLimit / 2);
            executed_.push_back({block[12], block[13], block[14], block[15]});
            ++executedCount_;
            reply_ = RunCommand(model_, memory_, block);
            replyArmed_ = !memory_.withholdReply;
            memory_.withholdReply = false;
            replyReadyAtMs_ = clock_ ? clock_->NowMs() + replyDelayMs_ : 0;
            if (memory_.failReplyRead) failReads_.emplace_back(device::kReplyLba, 1);
            memory_.failReplyRead = false;
            if (fault) SpoilReply(*fault);
            if (memory_.unplug) {
                // Gone before the read that completed the command came back.
                memory_.unplug = false;
                unplugged_ = true;
                failAll_ = true;
                replyArmed_ = false;
                return false;
            }
            break;
        }
        case KnockDecoder::Event::BadCrc:
            ++badCrcBlocks_;
            break;
        case KnockDecoder::Event::None:
            break;
    }
    if (lba == device::kReplyLba && replyArmed_) {
        ServeReplyBlock(out);
        return true;
    }
    OrdinarySector(lba, out);
    return true;
}

void ControllerEmulator::ServeReplyBlock(std::span<std::uint8_t> out) {
    const bool ready = !clock_ || clock_->NowMs() >= replyReadyAtMs_;
    if (!ready || failReplies_ > 0) {
        if (ready) --failReplies_;
        OrdinarySector(device::kReplyLba, out);
        return;
    }
    std::copy(reply_.begin(), reply_.end(), out.begin());
    if (statusOverride_) out[device::kStatusOffset] = *statusOverride_;
    if (corruptSignatureB_ > 0) {
        --corruptSignatureB_;
        std::memcpy(out.data() + device::kSignatureBOffset, kCorruptSignature,
                    device::kSignatureSize);
    }
}

std::optional<CommandFaultKind> ControllerEmulator::TakeCommandFault() {
    const std::uint64_t index = commandsCompleted_++;
    if (!commandFault_ || commandFault_->atCommand != index) return std::nullopt;
    const CommandFaultKind kind = commandFault_->kind;
    commandFault_.reset();
    return kind;
}

void ControllerEmulator::SpoilReply(CommandFaultKind kind) {
    switch (kind) {
        case CommandFaultKind::NoReply:
            replyArmed_ = false;
            break;
        case CommandFaultKind::ReplyReadFails:
            failReads_.emplace_back(device::kReplyLba, 1);
            break;
        case CommandFaultKind::WrongSignature:
            std::memcpy(reply_.data() + device::kSignatureBOffset, kCorruptSignature,
                        device::kSignatureSize);
            break;
        case CommandFaultKind::UnknownStatus:
            reply_[device::kStatusOffset] = kStatusUnrecognised;
            break;
        case CommandFaultKind::SlowReply:
            replyReadyAtMs_ += kSlowReplyMs;
            break;
        case CommandFaultKind::LateReply:
            replyReadyAtMs_ += kLateReplyMs;
            break;
        case CommandFaultKind::Vanish:
            memory_.unplug = true;
            break;
        case CommandFaultKind::KnockReadFails:
        case CommandFaultKind::MemberDropsOut:
            break;
    }
}

bool ControllerEmulator::TakeReadFault(std::uint32_t lba) {
    auto it = std::find_if(failReads_.begin(), failReads_.end(),
                           [lba](const auto& f) { return f.first == lba; });
    if (it == failReads_.end()) return false;
    if (--it->second <= 0) failReads_.erase(it);
    return true;
}

void ControllerEmulator::Record(std::uint32_t lba) {
    if (trace_.size() >= kTraceLimit)
        trace_.erase(trace_.begin(), trace_.begin() + kTraceLimit / 2);
    trace_.push_back(lba);
}

bool ControllerEmulator::Inquiry(std::span<std::uint8_t> out) {
    std::lock_guard lock(mutex_);
    if (failAll_ || out.size() < platform::kInquirySize) return false;
    std::fill_n(out.begin(), platform::kInquirySize, 0);
    out[0] = 0x00;  // direct-access block device
    out[2] = 0x06;  // SPC-4
    out[3] = 0x02;
    out[4] = platform::kInquirySize - 5;
    CopyPadded(out.subspan(8, 8), model_.inquiryVendor);
    CopyPadded(out.subspan(16, 16), model_.inquiryProduct);
    CopyPadded(out.subspan(32, 4), "0100");
    return true;
}

std::uint64_t ControllerEmulator::CapacitySectors() const {
    std::lock_guard lock(mutex_);
    return ArrayCapacity(model_);
}

std::vector<std::uint32_t> ControllerEmulator::Trace() const {
    std::lock_guard lock(mutex_);
    return trace_;
}

void ControllerEmulator::ClearTrace() {
    std::lock_guard lock(mutex_);
    trace_.clear();
}

void ControllerEmulator::ReleaseRecords() {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t>().swap(trace_);
    std::vector<std::array<std::uint8_t, 4>>().swap(executed_);
}

ControllerEmulator::SequenceCounts ControllerEmulator::Sequences() const {
    std::lock_guard lock(mutex_);
    return {sequencesStarted_, executedCount_, badCrcBlocks_};
}

std::vector<std::uint8_t> ControllerEmulator::ExecutedCommands() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> codes;
    codes.reserve(executed_.size());
    for (const auto& bytes : executed_) codes.push_back(bytes[0]);
    return codes;
}

std::vector<std::array<std::uint8_t, 4>> ControllerEmulator::ExecutedCommandBytes() const {
    std::lock_guard lock(mutex_);
    return executed_;
}

void ControllerEmulator::FailNextReplies(int polls) {
    std::lock_guard lock(mutex_);
    failReplies_ = std::max(0, polls);
}

void ControllerEmulator::FailReadAt(std::uint32_t lba, int times) {
    std::lock_guard lock(mutex_);
    if (times > 0) failReads_.emplace_back(lba, times);
}

void ControllerEmulator::FailAllReads(bool on) {
    std::lock_guard lock(mutex_);
    failAll_ = on;
}

void ControllerEmulator::CorruptSignatureB(int replies) {
    std::lock_guard lock(mutex_);
    corruptSignatureB_ = std::max(0, replies);
}

void ControllerEmulator::SetStatusOverride(std::optional<std::uint8_t> status) {
    std::lock_guard lock(mutex_);
    statusOverride_ = status;
}

void ControllerEmulator::SetReplyDelayMs(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    replyDelayMs_ = ms;
}

void ControllerEmulator::FailSpiProgramAt(std::uint32_t address, int times) {
    if (times > 0)
        InjectSpiFault({SpiOperation::Program, address, SpiFaultKind::FailStatus, times});
}

void ControllerEmulator::InjectSpiFault(const SpiFault& fault) {
    std::lock_guard lock(mutex_);
    if (fault.remaining != 0) memory_.spiFaults.push_back(fault);
}

bool ControllerEmulator::Unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

void ControllerEmulator::InjectDiskFault(const DiskFault& fault) {
    std::lock_guard lock(mutex_);
    if (fault.remaining != 0) memory_.diskFaults.push_back(fault);
}

void ControllerEmulator::InjectSettingFault(const SettingFault& fault) {
    std::lock_guard lock(mutex_);
    if (fault.remaining != 0) memory_.settingFaults.push_back(fault);
}

void ControllerEmulator::InjectCommandFault(const CommandFault& fault) {
    std::lock_guard lock(mutex_);
    commandFault_ = CommandFault{fault.kind, commandsCompleted_ + fault.atCommand};
}

std::uint64_t ControllerEmulator::CompletedCommands() const {
    std::lock_guard lock(mutex_);
    return commandsCompleted_;
}

}  // namespace raid::sim
