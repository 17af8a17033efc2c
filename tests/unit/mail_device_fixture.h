#pragma once
// One mirrored enclosure as the mail tests see it: "Device1" on physical
// disk 3, HDD1 present on a 6G link, HDD2 gone (its last known disk still in
// the record), 1953525168 sectors configured.
#include <memory>
#include <string>
#include <vector>

#include "common/state.h"

namespace raid::test_support {

// Writes `s` padded with blanks to `width` in ATA byte order (the two bytes
// of every word swapped).
inline void PutAta(Record512& r, std::size_t offset, std::size_t width, std::string s) {
    s.resize(width, ' ');
    for (std::size_t k = 0; k < width; ++k) r[offset + (k ^ 1u)] = static_cast<std::uint8_t>(s[k]);
}

inline void PutLe40(Record512& r, std::size_t offset, std::uint64_t v) {
    for (int i = 0; i < 5; ++i) r[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::unique_ptr<AppState> MirrorWithHdd2Lost() {
    auto app = std::make_unique<AppState>();
    app->discovery.deviceCount = 1;
    app->discovery.deviceTable[0] = kDeviceEntryRecognised | 3;
    app->discovery.deviceSlots[0].featureMask = 0x3D;
    Record512& id = app->discovery.identifyRecord[3];
    PutAta(id, 46, 8, "R105B07A");
    PutAta(id, 54, 40, "RAIDBOX TR2");
    Record512& r = app->monitor.deviceStatusRecord[3];
    r[rec::kArrayMode] = 1;
    PutLe40(r, rec::kConfiguredCapacity, 1953525168);
    r[rec::kDiskStateFlags] = diskstate::kHdd1Present | diskstate::kHdd2Absent;
    r[rec::kSataSpeed] = 0x23;
    PutAta(r, rec::kHdd1Model, 40, "WDC WD5000AAKX");
    PutAta(r, rec::kHdd1Serial, 20, "     WD-WCC3F1234567");
    PutLe40(r, rec::kHdd1Capacity, 976773168);
    PutAta(r, rec::kHdd2Model, 40, "ST1000DM003");
    PutAta(r, rec::kHdd2Serial, 20, "Z1D5K2AB");
    PutLe40(r, rec::kHdd2Capacity, 2000000);
    return app;
}

// The device block of a kind 1 notification about HDD2 of that enclosure.
inline const std::vector<std::string> kHdd2LostBlock{
    "Device1 P1 Hard Disk Drive fail.",
    "Device1 information :",
    "Model# RAIDBOX TR2",
    "Mirroring(RAID1), F/W Rev. R105B07A",
    "Configured Capacity : 931 GB(1953525168 Sectors)",
    "  HDD1 is present.(SATA6G)",
    "    Model no.: WDC WD5000AAKX",
    "    Serial no.: \"     WD-WCC3F1234567\"",
    "    Capacity : 465 GB(976773168 Sectors)",
    "  HDD2 is absent. ",
    "    Model no.: ST1000DM003",
    "    Serial no.: \"Z1D5K2AB            \"",
    "    Capacity : 976 MB(2000000 Sectors)",
};

}  // namespace raid::test_support
