#pragma once
// A DiskSystem made of emulated enclosures and plain disks, for tests and
// --simulate. Disks can be plugged and unplugged while it is in use.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/disk.h"
#include "sim/emulator.h"

namespace raid::sim {

class SimDiskSystem final : public platform::DiskSystem {
public:
    // Appends a disk; returns its physical disk number.
    int AddEnclosure(std::shared_ptr<ControllerEmulator> emulator);
    int AddPlainDisk();
    // Removes the disk; the disks after it move down one number, as the
    // machine's numbering does. Its volumes go with it; handles still open on
    // it fail every transfer from now on. An enclosure whose emulator was
    // unplugged by an injected fault is removed the same way the next time
    // the disks are listed or opened.
    void RemoveDisk(int number);
    // Adds a partition (a "drive letter") on disk `number`.
    void AddVolume(platform::VolumeInfo volume);
    // Makes opening fail with `error` for disk `number` (None clears it).
    void SetOpenError(int number, platform::OpenError error);
    // For benchmarks only: every sector read of a handle opened from now on
    // first sleeps this long for real, as a disk behind USB takes its time.
    // Zero (the default) never sleeps: tests run on manual clocks.
    void SetReadDelay(std::chrono::microseconds delay);

    std::vector<platform::DiskInfo> ListDisks() override;
    // Handles forward one-sector reads to the emulator (plain disks answer
    // with ordinary data); ReadSectors takes 1..255 sectors.
    platform::OpenResult OpenDisk(int number) override;
    std::vector<platform::VolumeInfo> ListVolumes() override;

    std::shared_ptr<ControllerEmulator> Emulator(int number) const;  // null for plain disks
    int OpenCount() const;  // how many opens succeeded so far

private:
    struct Disk {
        std::shared_ptr<ControllerEmulator> emulator;  // null = plain disk
        platform::OpenError openError = platform::OpenError::None;
        // Shared with open handles, which fail once the disk is removed.
        std::shared_ptr<std::atomic<bool>> present;
        // The disk's command lock, shared with open handles.
        std::shared_ptr<std::atomic<bool>> commandLock;
    };
    // Both under the lock.
    void DropDisk(int number);
    void DropUnplugged();

    mutable std::mutex mutex_;
    std::vector<Disk> disks_;
    std::vector<platform::VolumeInfo> volumes_;
    int openCount_ = 0;
    std::chrono::microseconds readDelay_{0};
};

}  // namespace raid::sim
