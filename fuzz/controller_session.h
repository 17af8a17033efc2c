#pragma once
// What the programs do with one enclosure's replies: a discovery, a
// settings command, a status poll, a SMART threshold and data read, and the texts the pages and
// raidctl make of the results. The controller-reply fuzz target runs it against replies from its
// input, the seed maker against the emulator.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/state.h"
#include "discovery/device_report.h"
#include "discovery/headless.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "smart/attribute_tooltip.h"
#include "smart/attributes.h"
#include "smart/read_smart.h"

namespace raid::fuzz {

// Disk 0 of this machine, each read answered by `read` (lba, sector).
class OneDiskSystem final : public platform::DiskSystem {
public:
    using ReadFn = std::function<bool(std::uint32_t lba, std::span<std::uint8_t> sector)>;
    explicit OneDiskSystem(ReadFn read) : read_(std::move(read)) {}

    std::vector<platform::DiskInfo> ListDisks() override { return {{0, "sdz", "/dev/sdz"}}; }
    std::vector<platform::VolumeInfo> ListVolumes() override {
        platform::VolumeInfo v;
        v.name = "sdz1";
        v.devicePath = "/dev/sdz1";
        v.diskNumber = 0;
        v.driveType = platform::kDriveFixed;
        return {v};
    }
    platform::OpenResult OpenDisk(int number) override {
        platform::OpenResult r;
        if (number != 0) {
            r.error = platform::OpenError::NoSuchDisk;
            r.message = "no such disk";
            return r;
        }
        r.handle = std::make_unique<Handle>(read_);
        return r;
    }

private:
    class Handle final : public platform::DiskHandle {
    public:
        explicit Handle(ReadFn& read) : read_(read) {}
        bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                         std::uint8_t count) override {
            for (std::uint8_t k = 0; k < count; ++k) {
                auto sector =
                    buffer.subspan(std::size_t{k} * platform::kSectorSize, platform::kSectorSize);
                if (!read_(lba + k, sector)) return false;
            }
            return true;
        }
        bool InquiryDevice(std::span<std::uint8_t> buffer) override {
            static constexpr char kInquiry[] = "\0\0\5\2\x1f\0\0\0EMULATEDRAID BRIDGE     0001";
            std::fill(buffer.begin(), buffer.end(), 0);
            std::copy_n(kInquiry, std::min(buffer.size(), sizeof kInquiry - 1), buffer.begin());
            return true;
        }
        bool TryLockCommands() override { return true; }
        void UnlockCommands() override {}

    private:
        ReadFn& read_;
    };

    ReadFn read_;
};

inline void RunControllerSession(platform::DiskSystem& disks) {
    platform::ManualClock clock;
    device::CommandChannel ch(disks, clock);
    ch.onException = [](const std::string&) {};
    AppState state;
    discovery::DiscoverOnce(state, ch);
    state.shell.firstStatusPending = false;
    monitor::QuietMonitorHost host;
    // A backup preset as the Setup page sends it; the poll reads it back.
    monitor::QueueSettingsCommand(state.monitor, device::cmd::kBackupPreset0 + 1);
    monitor::ApplyPendingCommand(state, ch, clock, host);
    monitor::StatusPoll(state, ch, clock, host);
    maintenance::WaitText(maintenance::BackupStatusOf(state.monitor.deviceStatusRecord[0]));

    smart::SmartState tables;
    smart::QuietSmartHost smartHost;
    smart::ReadSmart(state, tables, ch, smartHost, smart::kFeatureReadThresholds);
    smart::ReadSmart(state, tables, ch, smartHost, smart::kFeatureReadData);

    discovery::BuildDeviceReport(state.discovery, disks.ListDisks());
    for (int device = 0; device < kShownDevices; ++device) {
        for (int disk = 0; disk < 2; ++disk) {
            const smart::SmartView view = smart::BuildSmartView(tables.DataBlock(device, disk),
                                                                tables.ThresholdBlock(device, disk),
                                                                tables.Word106Code(device, disk));
            for (const auto& row : view.rows) smart::AttributeTooltip(row.attribute, row.status);
        }
    }
}

}  // namespace raid::fuzz
