#include "sim/sim_disks.h"

#include <algorithm>
#include <thread>

#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

// A handle outlives neither the disk's presence nor its emulator: once the
// disk is removed every transfer fails, as with a device that was unplugged.
class SimDiskHandle final : public platform::DiskHandle {
public:
    SimDiskHandle(std::shared_ptr<ControllerEmulator> emulator,
                  std::shared_ptr<std::atomic<bool>> present,
                  std::shared_ptr<std::atomic<bool>> commandLock,
                  std::chrono::microseconds readDelay)
        : emulator_(std::move(emulator)),
          present_(std::move(present)),
          commandLock_(std::move(commandLock)),
          readDelay_(readDelay) {}
    ~SimDiskHandle() override { UnlockCommands(); }
    SimDiskHandle(const SimDiskHandle&) = delete;
    SimDiskHandle& operator=(const SimDiskHandle&) = delete;

    bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                     std::uint8_t count) override {
        if (!*present_ || count == 0 || buffer.size() < std::size_t{count} * platform::kSectorSize)
            return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            auto sector = buffer.subspan(i * platform::kSectorSize, platform::kSectorSize);
            if (readDelay_.count() > 0) std::this_thread::sleep_for(readDelay_);
            if (emulator_) {
                if (!emulator_->Read(lba + i, sector)) return false;
            } else {
                OrdinarySector(lba + i, sector);
            }
        }
        return true;
    }

    bool InquiryDevice(std::span<std::uint8_t> buffer) override {
        if (!*present_ || buffer.size() < platform::kInquirySize) return false;
        if (emulator_) return emulator_->Inquiry(buffer);
        static constexpr char kPlain[] = "ATA     SIM PLAIN DISK  1.00";
        std::fill_n(buffer.begin(), platform::kInquirySize, 0);
        buffer[2] = 0x06;
        buffer[3] = 0x02;
        buffer[4] = platform::kInquirySize - 5;
        std::copy(kPlain, kPlain + sizeof(kPlain) - 1, buffer.begin() + 8);
        return true;
    }

    // Like flock(2): one holder per disk across all handles, whatever thread.
    bool TryLockCommands() override {
        if (locked_) return true;
        bool expected = false;
        locked_ = commandLock_->compare_exchange_strong(expected, true);
        return locked_;
    }
    void UnlockCommands() override {
        if (!locked_) return;
        commandLock_->store(false);
        locked_ = false;
    }

private:
    std::shared_ptr<ControllerEmulator> emulator_;
    std::shared_ptr<std::atomic<bool>> present_;
    std::shared_ptr<std::atomic<bool>> commandLock_;
    const std::chrono::microseconds readDelay_;
    bool locked_ = false;
};

std::string OpenErrorMessage(platform::OpenError error, int number) {
    const std::string disk = "simulated disk " + std::to_string(number);
    switch (error) {
        case platform::OpenError::NoSuchDisk:
            return "There is no " + disk + ".";
        case platform::OpenError::PermissionDenied:
            return "Opening " + disk +
                   " was refused: raw disk access needs root or membership in the disk group.";
        case platform::OpenError::NotBlockDevice:
            return "The " + disk + " is not a block device.";
        default:
            return "The " + disk + " could not be opened.";
    }
}

}  // namespace

int SimDiskSystem::AddEnclosure(std::shared_ptr<ControllerEmulator> emulator) {
    std::lock_guard lock(mutex_);
    disks_.push_back(Disk{std::move(emulator), platform::OpenError::None,
                          std::make_shared<std::atomic<bool>>(true),
                          std::make_shared<std::atomic<bool>>(false)});
    return static_cast<int>(disks_.size()) - 1;
}

int SimDiskSystem::AddPlainDisk() { return AddEnclosure(nullptr); }

void SimDiskSystem::RemoveDisk(int number) {
    std::lock_guard lock(mutex_);
    DropDisk(number);
}

void SimDiskSystem::DropUnplugged() {
    for (int i = static_cast<int>(disks_.size()) - 1; i >= 0; --i) {
        const auto& emulator = disks_[static_cast<std::size_t>(i)].emulator;
        if (emulator && emulator->Unplugged()) DropDisk(i);
    }
}

void SimDiskSystem::DropDisk(int number) {
    if (number < 0 || number >= static_cast<int>(disks_.size())) return;
    *disks_[static_cast<std::size_t>(number)].present = false;
    disks_.erase(disks_.begin() + number);
    std::erase_if(volumes_, [number](const auto& v) { return v.diskNumber == number; });
    for (auto& v : volumes_)
        if (v.diskNumber > number) --v.diskNumber;
}

void SimDiskSystem::AddVolume(platform::VolumeInfo volume) {
    std::lock_guard lock(mutex_);
    volumes_.push_back(std::move(volume));
}

void SimDiskSystem::SetOpenError(int number, platform::OpenError error) {
    std::lock_guard lock(mutex_);
    if (number < 0 || number >= static_cast<int>(disks_.size())) return;
    disks_[static_cast<std::size_t>(number)].openError = error;
}

std::vector<platform::DiskInfo> SimDiskSystem::ListDisks() {
    std::lock_guard lock(mutex_);
    DropUnplugged();
    std::vector<platform::DiskInfo> list;
    for (std::size_t i = 0; i < disks_.size(); ++i) {
        platform::DiskInfo info;
        info.number = static_cast<int>(i);
        info.name = "sim" + std::to_string(i);
        info.devicePath = "/dev/" + info.name;
        if (const auto& emulator = disks_[i].emulator)
            info.serial = emulator->WithModel([](const Enclosure& e) { return e.bridgeSerial; });
        list.push_back(std::move(info));
    }
    return list;
}

platform::OpenResult SimDiskSystem::OpenDisk(int number) {
    std::lock_guard lock(mutex_);
    DropUnplugged();
    platform::OpenResult result;
    if (number < 0 || number >= static_cast<int>(disks_.size())) {
        result.error = platform::OpenError::NoSuchDisk;
        result.message = OpenErrorMessage(result.error, number);
        return result;
    }
    const Disk& disk = disks_[static_cast<std::size_t>(number)];
    if (disk.openError != platform::OpenError::None) {
        result.error = disk.openError;
        result.message = OpenErrorMessage(disk.openError, number);
        return result;
    }
    result.handle =
        std::make_unique<SimDiskHandle>(disk.emulator, disk.present, disk.commandLock, readDelay_);
    ++openCount_;
    return result;
}

void SimDiskSystem::SetReadDelay(std::chrono::microseconds delay) {
    std::lock_guard lock(mutex_);
    readDelay_ = delay;
}

std::vector<platform::VolumeInfo> SimDiskSystem::ListVolumes() {
    std::lock_guard lock(mutex_);
    DropUnplugged();
    return volumes_;
}

std::shared_ptr<ControllerEmulator> SimDiskSystem::Emulator(int number) const {
    std::lock_guard lock(mutex_);
    if (number < 0 || number >= static_cast<int>(disks_.size())) return nullptr;
    return disks_[static_cast<std::size_t>(number)].emulator;
}

int SimDiskSystem::OpenCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

}  // namespace raid::sim
