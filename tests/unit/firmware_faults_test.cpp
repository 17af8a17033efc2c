// Every fault the emulator can inject, at every erase step and every chunk
// of a small upgrade: the run either ends with "SPI Verify OK" and the
// flash holding the image, or fails saying where: the loop's final text
// naming the faulted address, or a verify failure at the flipped byte. It
// never reports success over a flash that differs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "firmware/spi_ranges.h"
#include "firmware/upgrade.h"
#include "tests/unit/firmware_rig.h"

namespace raid::firmware {
namespace {

using sim::SpiFaultKind;
using sim::SpiOperation;
using test_support::FirmwareRig;
using test_support::FlashImage;

// 30.5 chunks: the last one is padded. Erased as 4 steps of 4 KiB.
constexpr std::size_t kImageSize = 0xF40;
constexpr std::uint32_t kEraseEnd = 0x4000;

struct FaultCase {
    SpiOperation operation;
    SpiFaultKind kind;
    int times;  // 9 exhausts a chunk's attempts
};

std::string Name(const FaultCase& c) {
    static const char* const kOps[] = {"Read", "Program", "Erase"};
    static const char* const kKinds[] = {"FailStatus",     "BadStatus", "NoReply",
                                         "ReplyReadFails", "FlipBit",   "Vanish"};
    return std::string(kOps[static_cast<int>(c.operation)]) + kKinds[static_cast<int>(c.kind)] +
           (c.times == 1 ? "Once" : "Persistent");
}

std::string StopText(SpiOperation op, std::uint32_t address) {
    static const char* const kLoops[] = {"ReadSPI", "WriteSPI", "EraseSPI"};
    return std::string(kLoops[static_cast<int>(op)]) + " fail, Address = " + AddressText(address);
}

std::vector<std::uint32_t> FaultAddresses(SpiOperation op) {
    std::vector<std::uint32_t> out;
    const std::uint32_t end = op == SpiOperation::Erase ? kEraseEnd : kImageSize;
    const std::uint32_t step = op == SpiOperation::Erase ? kEraseStep : kSpiChunk;
    for (std::uint32_t a = 0; a < end; a += step) out.push_back(a);
    return out;
}

class FirmwareFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FirmwareFaults, EveryStepAndChunk) {
    const FaultCase fault = GetParam();
    const std::vector<std::uint8_t> image = FlashImage(kImageSize);
    int succeeded = 0, failed = 0;
    for (std::uint32_t address : FaultAddresses(fault.operation)) {
        SCOPED_TRACE(Name(fault) + " at " + AddressText(address));
        FirmwareRig rig;
        rig.fw.image.bytes = image;
        // The flash's first two chunks are read once more before the erase,
        // for the type byte: a persistent fault there outlasts that read too.
        const bool metBeforeErase = fault.operation == SpiOperation::Read && address < 0x100;
        const int times = metBeforeErase && fault.times >= kSpiChunkAttempts
                              ? fault.times + kSpiChunkAttempts
                              : fault.times;
        rig.emulator->InjectSpiFault({fault.operation, address, fault.kind, times});
        const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        const auto flash = rig.Flash();
        const bool holdsImage = std::equal(image.begin(), image.end(), flash.begin());
        if (metBeforeErase && fault.kind == SpiFaultKind::Vanish) {
            // Discovery's type stands; the erase finds the disk gone.
            ++failed;
            EXPECT_EQ(r.outcome, UpgradeOutcome::EraseFailed);
            EXPECT_EQ(r.finalText, "SPI Erase Fail.");
            continue;
        }

        ASSERT_EQ(rig.host.messages.size(), 1u);
        EXPECT_EQ(rig.host.messages.back().text, r.finalText);
        EXPECT_FALSE(rig.state.shell.exclusiveOperation.load());
        if (r.Succeeded()) {
            ++succeeded;
            EXPECT_TRUE(holdsImage) << "success over a flash that differs";
            EXPECT_EQ(rig.host.statusTexts.back(), "SPI Verify OK");
            continue;
        }
        ++failed;
        if (r.outcome == UpgradeOutcome::VerifyFailed) {
            EXPECT_EQ(fault.kind, SpiFaultKind::FlipBit);
            EXPECT_EQ(r.finalText, "SPI Verify fail !!!");
            EXPECT_EQ(r.firstDifference, address);
        } else {
            EXPECT_EQ(r.finalText, StopText(fault.operation, address));
        }

        // What each fault must come to.
        const bool persistent =
            fault.times >= kSpiChunkAttempts || fault.kind == SpiFaultKind::Vanish;
        if (fault.kind == SpiFaultKind::FlipBit) {
            // A flip in the data read back leaves a good flash; one programmed does not.
            if (fault.operation != SpiOperation::Erase) {
                EXPECT_EQ(holdsImage, fault.operation == SpiOperation::Read);
            }
        } else {
            EXPECT_TRUE(persistent) << "a fault the retries should have outlived";
        }
    }
    // Transient faults that the retries outlive must not fail a run.
    const bool outlived = fault.kind != SpiFaultKind::FlipBit &&
                          fault.kind != SpiFaultKind::Vanish && fault.times == 1;
    const bool fatal = fault.kind != SpiFaultKind::FlipBit && !outlived;
    if (outlived) {
        EXPECT_EQ(failed, 0);
    }
    if (fatal) {
        EXPECT_EQ(succeeded, 0);
    }
    RecordProperty("runs", succeeded + failed);
    std::printf("[ fault runs ] %-32s %3d runs: %3d verified, %3d failed naming the address\n",
                Name(fault).c_str(), succeeded + failed, succeeded, failed);
}

std::vector<FaultCase> AllCases() {
    std::vector<FaultCase> cases;
    for (SpiOperation op : {SpiOperation::Erase, SpiOperation::Program, SpiOperation::Read})
        for (SpiFaultKind kind :
             {SpiFaultKind::FailStatus, SpiFaultKind::BadStatus, SpiFaultKind::NoReply,
              SpiFaultKind::ReplyReadFails, SpiFaultKind::FlipBit, SpiFaultKind::Vanish})
            for (int times : {1, kSpiChunkAttempts}) {
                // A vanishing is for good, and a flip is never retried:
                // a second one would never be reached.
                const bool once = kind == SpiFaultKind::Vanish || kind == SpiFaultKind::FlipBit;
                if (once && times != 1) continue;
                cases.push_back({op, kind, times});
            }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllFaults, FirmwareFaults, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) { return Name(info.param); });

}  // namespace
}  // namespace raid::firmware
