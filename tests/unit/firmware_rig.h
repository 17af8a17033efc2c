#pragma once
// An enclosure in the in-process emulator, found by discovery, with a host
// that records everything a flash operation shows, in order.
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/channel.h"
#include "discovery/headless.h"
#include "firmware/firmware_state.h"
#include "firmware/upgrade_host.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::test_support {

class RecordingUpgradeHost final : public firmware::UpgradeHost {
public:
    void SetStatusText(const std::string& text) override {
        statusTexts.push_back(text);
        events.push_back("status " + text);
    }
    void ShowMessage(const firmware::Message& m) override {
        messages.push_back(m);
        events.push_back("message " + m.caption + ": " + m.text);
    }
    void SetSelectorsEnabled(bool enabled) override {
        events.push_back(enabled ? "selectors on" : "selectors off");
    }
    void BeginProgress(const std::string& label, std::uint32_t maximum) override {
        progressMaximum = maximum;
        events.push_back("begin " + label + " " + std::to_string(maximum));
    }
    void ShowPhase(const std::string& caption) override { events.push_back("phase " + caption); }
    void SetProgress(std::uint32_t position) override {
        events.push_back("progress " + std::to_string(position));
    }
    void EndProgress() override { events.push_back("end"); }
    void Pump() override {
        ++pumps;
        if (onPump) onPump();
    }
    bool IsClosing() const override { return closing; }

    std::vector<std::string> events;
    std::vector<std::string> statusTexts;
    std::vector<firmware::Message> messages;
    std::uint32_t progressMaximum = 0;
    int pumps = 0;
    bool closing = false;
    std::function<void()> onPump;
};

struct FirmwareRig {
    // `plainDisksFirst`: plain disks ahead of the enclosure's, so that it is
    // not physical disk 0.
    explicit FirmwareRig(sim::Enclosure model = *sim::ScenarioEnclosure("raid1"),
                         int plainDisksFirst = 0) {
        for (int i = 0; i < plainDisksFirst; ++i) disks.AddPlainDisk();
        emulator = std::make_shared<sim::ControllerEmulator>(std::move(model), &clock);
        disks.AddEnclosure(emulator);
        discovery::DiscoverOnce(state, ch);
        emulator->ClearTrace();
        executedBefore = emulator->ExecutedCommandBytes().size();
    }

    std::vector<std::uint8_t> Flash() {
        return emulator->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    }
    // Flash commands (C0..C3) sent since discovery.
    std::vector<std::array<std::uint8_t, 4>> Commands(std::uint8_t code) const {
        std::vector<std::array<std::uint8_t, 4>> out;
        const auto all = emulator->ExecutedCommandBytes();
        for (std::size_t i = executedBefore; i < all.size(); ++i)
            if (all[i][0] == code) out.push_back(all[i]);
        return out;
    }
    static std::uint32_t Address(const std::array<std::uint8_t, 4>& c) {
        return ((std::uint32_t{c[2]} << 8) | c[3]) * 128;
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    std::shared_ptr<sim::ControllerEmulator> emulator;
    AppState state;
    firmware::FirmwareState fw;
    RecordingUpgradeHost host;
    std::size_t executedBefore = 0;
};

// An image of `size` bytes that carries `typeByte` at 0x95; no two
// neighbouring chunks alike.
inline std::vector<std::uint8_t> FlashImage(std::size_t size, std::uint8_t typeByte = 0x5A) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 7) ^ 0xA5);
    if (size > 0x95) image[0x95] = typeByte;
    return image;
}

}  // namespace raid::test_support
