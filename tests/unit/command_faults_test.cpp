// Every command fault the emulator can inject, at every controller command
// of a discovery, a status poll, a settings command, a SMART refresh and a
// firmware upgrade.
// Each run must end without a crash, claim nothing the controller did not
// answer, keep the window's loop turning (no stretch of clock time longer
// than kLoopGapMs without a pump), and the next run once the fault is
// cleared must see the enclosure as a clean run does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/protocol.h"
#include "discovery/headless.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade.h"
#include "maintenance/period_setting.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "smart/read_smart.h"
#include "smart/smart_host.h"
#include "smart/smart_state.h"
#include "tests/unit/firmware_rig.h"

namespace raid {
namespace {

using sim::CommandFaultKind;
namespace cmd = device::cmd;

// The window's budget between two turns of its event loop.
constexpr std::uint64_t kLoopGapMs = 50;

constexpr CommandFaultKind kAllKinds[] = {
    CommandFaultKind::NoReply,        CommandFaultKind::KnockReadFails,
    CommandFaultKind::ReplyReadFails, CommandFaultKind::WrongSignature,
    CommandFaultKind::UnknownStatus,  CommandFaultKind::SlowReply,
    CommandFaultKind::LateReply,      CommandFaultKind::MemberDropsOut,
    CommandFaultKind::Vanish,
};

const char* KindName(CommandFaultKind kind) {
    static const char* const kNames[] = {"NoReply",        "KnockReadFails", "ReplyReadFails",
                                         "WrongSignature", "UnknownStatus",  "SlowReply",
                                         "LateReply",      "MemberDropsOut", "Vanish"};
    return kNames[static_cast<int>(kind)];
}

// Faults after which the spoiled command has no answer the host may use.
bool Unanswered(CommandFaultKind kind) {
    return kind != CommandFaultKind::SlowReply && kind != CommandFaultKind::MemberDropsOut;
}

// One mirror enclosure on the window's kind of clock: sleeps on this thread
// run the pump in slices, as the window's pumping clock does, and the pump
// records the longest stretch of clock time it was not called.
struct FaultRig {
    explicit FaultRig(bool discover = true) {
        Plug();
        ch.pump = [this] { Pumped(); };
        if (discover) Discover();
    }
    void Plug() {
        emu = std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disks.AddEnclosure(emu);
    }
    void Discover() {
        discovery::DiscoverOnce(state, ch);
        state.shell.firstStatusPending = false;
    }
    void Pumped() {
        ++pumps;
        const std::uint64_t now = clock.NowMs();
        longestGapMs = std::max(longestGapMs, now - lastPumpMs);
        lastPumpMs = now;
    }
    void StartWatch() {
        lastPumpMs = clock.NowMs();
        longestGapMs = 0;
        pumps = 0;
    }
    // The stretch from the last pump to the end of the run counts too.
    void EndWatch() {
        const int counted = pumps;
        Pumped();
        pumps = counted;
    }
    // Undoes what a fault left behind: a dropped member comes back, a
    // vanished enclosure is plugged in again and found anew.
    void ClearFault(CommandFaultKind kind) {
        if (kind == CommandFaultKind::MemberDropsOut) {
            ASSERT_EQ(emu->Control("present 2"), "");
        }
        if (kind == CommandFaultKind::Vanish) {
            disks.ListDisks();  // drops the unplugged disk
            Plug();
            Discover();
        }
    }
    bool Polled() {
        monitor::StatusPoll(state, ch, pumping, monitorHost);
        return (state.monitor.changedDeviceMask & 1) != 0;
    }
    Record512& StatusRecord() { return state.monitor.deviceStatusRecord[0]; }
    // A firmware upgrade as the window runs it: its host pumps the window's
    // loop between the flash commands.
    struct Upgraded {
        firmware::UpgradeResult result;
        std::vector<firmware::Message> messages;
    };
    Upgraded Upgrade(const std::vector<std::uint8_t>& image) {
        test_support::RecordingUpgradeHost host;
        host.onPump = [this] { Pumped(); };
        fw.image.bytes = image;
        Upgraded u{firmware::RunUpgrade(state, fw, ch, host, 0), {}};
        u.messages = std::move(host.messages);
        return u;
    }
    bool FlashHolds(const std::vector<std::uint8_t>& image) {
        return emu->WithModel([&](const sim::Enclosure& e) {
            return e.spiFlash.size() >= image.size() &&
                   std::equal(image.begin(), image.end(), e.spiFlash.begin());
        });
    }
    std::vector<std::uint8_t> Model(int member, std::uint8_t feature) {
        return emu->WithModel([&](const sim::Enclosure& e) {
            const auto& m = e.members[member];
            return feature == smart::kFeatureReadData ? m.smartData : m.smartThresholds;
        });
    }
    // The SMART table of `feature` holds what the members carry.
    bool SmartTableMatches(std::uint8_t feature) {
        for (int member = 0; member < 2; ++member) {
            const auto block = feature == smart::kFeatureReadData ? smart.DataBlock(0, member)
                                                                  : smart.ThresholdBlock(0, member);
            const auto model = Model(member, feature);
            if (!std::equal(model.begin(), model.end(), block.begin())) return false;
        }
        return true;
    }

    platform::ManualClock clock;
    platform::PumpingClock pumping{clock, std::this_thread::get_id(), [this] { Pumped(); }};
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, pumping};
    std::shared_ptr<sim::ControllerEmulator> emu;
    AppState state;
    smart::SmartState smart;
    firmware::FirmwareState fw;
    monitor::QuietMonitorHost monitorHost;
    smart::QuietSmartHost smartHost;
    std::uint64_t lastPumpMs = 0;
    std::uint64_t longestGapMs = 0;
    int pumps = 0;
};

// What one faulted run came to.
struct Tally {
    int runs = 0;
    int claimed = 0;  // the program reported the operation done
    int refused = 0;  // it reported a failure
    int recovered = 0;
};

// The operation under test: `run` does it once and returns whether the
// program claims success; `check` judges a faulted run (fault `kind` at
// command `k`, `claimed` as run returned); `recovered` does it again once
// the fault is cleared and says whether it saw what a clean run sees.
struct Operation {
    const char* name;
    std::function<void(FaultRig&)> prepare = [](FaultRig&) {};
    std::function<bool(FaultRig&)> run;
    std::function<void(FaultRig&, CommandFaultKind kind, std::uint64_t k, bool claimed)> check;
    std::function<bool(FaultRig&)> recovered;
    bool discover = true;
};

void Sweep(const Operation& op) {
    std::uint64_t commands = 0;
    {
        FaultRig clean(op.discover);
        op.prepare(clean);
        const std::uint64_t before = clean.emu->CompletedCommands();
        ASSERT_TRUE(op.run(clean)) << op.name << " fails without a fault";
        commands = clean.emu->CompletedCommands() - before;
    }
    ASSERT_GT(commands, 0u);
    for (CommandFaultKind kind : kAllKinds) {
        Tally t;
        for (std::uint64_t k = 0; k < commands; ++k) {
            SCOPED_TRACE(std::string(op.name) + ": " + KindName(kind) + " at command " +
                         std::to_string(k));
            FaultRig rig(op.discover);
            op.prepare(rig);
            rig.emu->InjectCommandFault({kind, k});
            rig.StartWatch();
            const bool claimed = op.run(rig);
            rig.EndWatch();
            ++t.runs;
            ++(claimed ? t.claimed : t.refused);
            EXPECT_GT(rig.pumps, 0);
            EXPECT_LE(rig.longestGapMs, kLoopGapMs) << "the window's loop stood still";
            op.check(rig, kind, k, claimed);

            rig.ClearFault(kind);
            op.prepare(rig);
            const bool ok = op.recovered(rig);
            EXPECT_TRUE(ok) << "no recovery once the fault was cleared";
            t.recovered += ok ? 1 : 0;
        }
        std::printf("[ fault runs ] %-18s %-15s %3d runs: %3d done, %3d failed, %3d recovered\n",
                    op.name, KindName(kind), t.runs, t.claimed, t.refused, t.recovered);
    }
}

TEST(CommandFaults, Discovery) {
    Record512 cleanIdentify{};
    {
        FaultRig clean;
        cleanIdentify = clean.state.discovery.identifyRecord[0];
    }
    auto foundAsClean = [&](FaultRig& rig) {
        return rig.state.discovery.deviceCount == 1 &&
               rig.state.discovery.identifyRecord[0] == cleanIdentify;
    };
    Sweep({
        .name = "discovery",
        .run =
            [](FaultRig& rig) {
                rig.Discover();
                return rig.state.discovery.deviceCount == 1;
            },
        .check =
            [&](FaultRig& rig, CommandFaultKind kind, std::uint64_t, bool found) {
                if (kind == CommandFaultKind::SlowReply) {
                    EXPECT_TRUE(foundAsClean(rig));
                    EXPECT_EQ(rig.ch.lastOpenError, platform::OpenError::None);
                } else if (found && kind != CommandFaultKind::MemberDropsOut) {
                    // Listed only with the IDENTIFY the controller really gave.
                    EXPECT_EQ(rig.state.discovery.identifyRecord[0], cleanIdentify);
                }
            },
        .recovered =
            [&](FaultRig& rig) {
                rig.Discover();
                return foundAsClean(rig);
            },
        .discover = false,
    });
}

TEST(CommandFaults, StatusPoll) {
    Record512 cleanRecord{}, droppedRecord{};
    {
        FaultRig clean;
        ASSERT_TRUE(clean.Polled());
        cleanRecord = clean.StatusRecord();
        ASSERT_EQ(clean.emu->Control("pull 2"), "");
        ASSERT_TRUE(clean.Polled());
        droppedRecord = clean.StatusRecord();
    }
    Sweep({
        .name = "status poll",
        .run = [](FaultRig& rig) { return rig.Polled(); },
        .check =
            [&](FaultRig& rig, CommandFaultKind kind, std::uint64_t, bool answered) {
                if (Unanswered(kind)) {
                    EXPECT_FALSE(answered) << "answered mask set for a silent controller";
                    EXPECT_EQ(rig.state.discovery.deviceSlots[0].failureCount, 1);
                    return;
                }
                EXPECT_TRUE(answered);
                EXPECT_EQ(rig.StatusRecord(),
                          kind == CommandFaultKind::SlowReply ? cleanRecord : droppedRecord);
            },
        .recovered =
            [&](FaultRig& rig) {
                // A device that failed is skipped by the next poll: the one after answers.
                if (!rig.Polled() && !rig.Polled()) return false;
                return rig.StatusRecord() == cleanRecord;
            },
    });
}

// A settings command queued by a page, sent, and read back by the poll.
void SettingsSweep(const char* name, std::function<void(FaultRig&)> queue) {
    struct Sent {
        std::uint8_t result = 0xEE;
        std::size_t lines = 0;
    };
    auto send = [](FaultRig& rig, Sent& s) {
        const std::size_t before = rig.state.monitor.settingsLogLines.size();
        const bool sent = monitor::ApplyPendingCommand(rig.state, rig.ch, rig.pumping,
                                                       rig.monitorHost, &s.result);
        s.lines = rig.state.monitor.settingsLogLines.size() - before;
        return sent;
    };
    auto sent = std::make_shared<Sent>();
    Sweep({
        .name = name,
        .prepare = queue,
        .run =
            [&, sent](FaultRig& rig) {
                *sent = {};
                const bool took = send(rig, *sent) && sent->result == device::kResultSuccess;
                const bool polled = rig.Polled();
                return took && polled;
            },
        .check =
            [&, sent](FaultRig&, CommandFaultKind kind, std::uint64_t k, bool) {
                if (k == 0 && Unanswered(kind)) {
                    EXPECT_NE(sent->result, device::kResultSuccess);
                    EXPECT_EQ(sent->lines, 0u) << "a settings line for an unanswered command";
                } else {
                    EXPECT_EQ(sent->result, device::kResultSuccess);
                    EXPECT_EQ(sent->lines, 1u);
                }
            },
        .recovered =
            [&, sent](FaultRig& rig) {
                Sent again;
                if (!send(rig, again) || again.result != device::kResultSuccess || again.lines != 1)
                    return false;
                return rig.Polled() || rig.Polled();
            },
    });
}

TEST(CommandFaults, BuzzerMute) {
    SettingsSweep("buzzer mute", [](FaultRig& rig) {
        rig.monitorHost.selected = 0;
        maintenance::SetBuzzerMute(rig.state, 0, true);
    });
}

TEST(CommandFaults, BackupPeriod) {
    SettingsSweep("backup period", [](FaultRig& rig) {
        monitor::QueueSettingsCommand(rig.state.monitor, cmd::kBackupPreset0 + 2);
    });
}

void SmartSweep(const char* name, std::uint8_t feature) {
    auto done = [feature](FaultRig& rig) {
        return feature == smart::kFeatureReadData ? rig.smart.dataRead : rig.smart.thresholdsRead;
    };
    auto read = [feature, done](FaultRig& rig) {
        smart::ReadSmart(rig.state, rig.smart, rig.ch, rig.smartHost, feature);
        return done(rig);
    };
    Sweep({
        .name = name,
        .run = read,
        .check =
            [feature](FaultRig& rig, CommandFaultKind kind, std::uint64_t, bool claimed) {
                if (kind == CommandFaultKind::Vanish) {
                    EXPECT_FALSE(claimed) << "read from an enclosure that is gone";
                } else if (kind != CommandFaultKind::MemberDropsOut) {
                    // One spoiled command is outlived by the retries.
                    EXPECT_TRUE(claimed);
                }
                if (claimed) {
                    EXPECT_TRUE(rig.SmartTableMatches(feature)) << "claimed over wrong bytes";
                }
            },
        .recovered =
            [read, feature](FaultRig& rig) { return read(rig) && rig.SmartTableMatches(feature); },
    });
}

TEST(CommandFaults, SmartData) { SmartSweep("SMART data", smart::kFeatureReadData); }

TEST(CommandFaults, SmartThresholds) {
    SmartSweep("SMART thresholds", smart::kFeatureReadThresholds);
}

// Where a range loop stopped at the chunk of flash command `command`, as
// its final text says.
std::string StopText(const std::array<std::uint8_t, 4>& command) {
    const char* loop = command[0] == cmd::kEraseSpi   ? "EraseSPI"
                       : command[0] == cmd::kWriteSpi ? "WriteSPI"
                                                      : "ReadSPI";
    return std::string(loop) +
           " fail, Address = " + firmware::AddressText(test_support::FirmwareRig::Address(command));
}

// An image of 3.5 chunks: the information query and the flash's first two
// chunks read afresh before the erase, then the erase (twice E, four 4 KiB
// steps), the program and the read-back (four chunks each, the last one
// padded) make fifteen commands, every one swept.
TEST(CommandFaults, FirmwareUpgrade) {
    const std::vector<std::uint8_t> image = test_support::FlashImage(0x1C0);
    std::vector<std::array<std::uint8_t, 4>> cleanCommands;
    firmware::Message success;
    {
        FaultRig clean;
        const std::size_t before = clean.emu->ExecutedCommandBytes().size();
        const auto u = clean.Upgrade(image);
        ASSERT_TRUE(u.result.Succeeded());
        ASSERT_EQ(u.messages.size(), 1u);
        success = u.messages.back();
        const auto all = clean.emu->ExecutedCommandBytes();
        cleanCommands.assign(all.begin() + static_cast<long>(before), all.end());
    }
    auto last = std::make_shared<FaultRig::Upgraded>();
    auto upgrade = [image, last](FaultRig& rig) {
        *last = rig.Upgrade(image);
        return last->result.Succeeded();
    };
    auto upgradedAgain = [upgrade, image](FaultRig& rig) {
        return upgrade(rig) && rig.FlashHolds(image);
    };
    Sweep({
        .name = "firmware upgrade",
        .run = upgrade,
        .check =
            [&, last](FaultRig& rig, CommandFaultKind kind, std::uint64_t k, bool claimed) {
                // Polls and discovery may address the enclosure again.
                EXPECT_FALSE(rig.state.shell.exclusiveOperation.load());
                ASSERT_FALSE(last->messages.empty());
                if (claimed) {
                    EXPECT_TRUE(rig.FlashHolds(image)) << "success over a flash that differs";
                    EXPECT_EQ(last->messages.back(), success);
                } else {
                    EXPECT_FALSE(last->result.finalText.empty());
                    EXPECT_EQ(last->messages.back(),
                              (firmware::Message{last->result.finalText, "Message"}));
                    for (const auto& m : last->messages) EXPECT_NE(m, success);
                }
                if (kind == CommandFaultKind::Vanish) {
                    EXPECT_FALSE(claimed) << "an upgrade of an enclosure that is gone";
                    ASSERT_LT(k, cleanCommands.size());
                    // Gone at the check before the erase: nothing is erased;
                    // after a failed type read discovery's type stands, and
                    // the erase finds the disk gone.
                    const std::string expected =
                        cleanCommands[k][0] == device::cmd::kInformation
                            ? "Device1 could not be opened again before the erase (There is no "
                              "simulated disk 0.). Nothing was erased."
                        : k < 3 ? "SPI Erase Fail."
                                : StopText(cleanCommands[k]);
                    EXPECT_EQ(last->result.finalText, expected);
                } else {
                    // One spoiled command of a chunk is outlived by its retries.
                    EXPECT_TRUE(claimed);
                }
            },
        .recovered = upgradedAgain,
    });
}

}  // namespace
}  // namespace raid
