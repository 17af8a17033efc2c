#include "smart/attribute_tooltip.h"

namespace raid::smart {
namespace {

enum class RawKind { MakerScale, Count, Hours, Celsius };

struct Note {
    std::uint8_t id;
    const char* sentence;
    RawKind kind;
    const char* unit;  // of a count
    // For ids that alert on a non-zero raw value: what that value means.
    const char* alertMeaning;
};

// One note per id the page names (for the ids listed twice, the meaning of
// the name shown).
constexpr Note kNotes[] = {
    {1, "how often reading needed error correction", RawKind::MakerScale, "", nullptr},
    {2, "the disk's overall throughput as the maker measures it", RawKind::MakerScale, "", nullptr},
    {3, "how long the spindle takes to reach full speed", RawKind::MakerScale, "", nullptr},
    {4, "how often the spindle started and stopped", RawKind::Count, "start/stop cycles", nullptr},
    {5, "sectors the disk found bad and replaced with spare ones", RawKind::Count, "sectors",
     "sectors were reallocated"},
    {6, "the safety margin of the read channel", RawKind::MakerScale, "", nullptr},
    {7, "how often the heads missed the track they were sent to", RawKind::MakerScale, "", nullptr},
    {8, "how well seeks keep to their expected time", RawKind::MakerScale, "", nullptr},
    {9, "how long the disk has been powered on", RawKind::Hours, "", nullptr},
    {10, "how often spinning up needed another try", RawKind::Count, "retries",
     "spin-up needed retries"},
    {11, "how often calibrating the heads needed another try", RawKind::Count, "retries",
     "calibration needed retries"},
    {12, "how often the disk was switched on", RawKind::Count, "power cycles", nullptr},
    {13, "read errors that retries or correction recovered", RawKind::MakerScale, "", nullptr},
    {180, "spare blocks left for replacing bad ones", RawKind::Count, "blocks", nullptr},
    {183, "how often the link fell back to a slower SATA speed", RawKind::Count, "downshifts",
     nullptr},
    {184, "data found damaged on its way through the disk's cache", RawKind::Count, "errors",
     nullptr},
    {185, "the steadiness of the heads as the maker measures it", RawKind::MakerScale, "", nullptr},
    {186, "vibration from outside while the disk worked", RawKind::MakerScale, "", nullptr},
    {187, "errors the disk could not correct and reported to the computer", RawKind::Count,
     "errors", nullptr},
    {188, "commands aborted because they took too long", RawKind::Count, "time-outs", nullptr},
    {189, "writes done while a head flew higher than it should", RawKind::Count, "writes", nullptr},
    {190, "the temperature of the air inside the disk", RawKind::Celsius, "", nullptr},
    {191, "shocks and vibration the disk's sensor registered", RawKind::Count, "events", nullptr},
    {192, "how often the heads were parked by a power loss", RawKind::Count, "retracts", nullptr},
    {193, "how often the heads were parked and unparked", RawKind::Count, "cycles", nullptr},
    {194, "the temperature of the disk", RawKind::Celsius, "", nullptr},
    {195, "errors the disk's error correction fixed on the fly", RawKind::MakerScale, "", nullptr},
    {196, "how often data was moved from a bad sector to a spare one", RawKind::Count, "events",
     "data was moved to spare sectors"},
    {197, "sectors that could not be read and wait to be replaced when next written",
     RawKind::Count, "sectors", "sectors wait to be reallocated"},
    {198, "sectors the disk's own surface scan could not read", RawKind::Count, "sectors",
     "sectors failed the offline scan"},
    {199, "transfers between disk and enclosure that failed their checksum", RawKind::Count,
     "errors", "transfers failed their checksum (check the cable)"},
    {200, "errors found while writing", RawKind::Count, "errors", nullptr},
    {201, "read errors that retries recovered", RawKind::MakerScale, "", nullptr},
    {202, "errors finding the start of the data on a track", RawKind::Count, "errors", nullptr},
    {203, "errors that correction gave up on", RawKind::MakerScale, "", nullptr},
    {204, "errors corrected by the firmware", RawKind::MakerScale, "", nullptr},
    {205, "read disturbances from the heads touching the platters", RawKind::Count, "events",
     nullptr},
    {206, "the height of the heads above the platters", RawKind::MakerScale, "", nullptr},
    {207, "the current the spindle draws while spinning up", RawKind::MakerScale, "", nullptr},
    {208, "how often the spindle buzzed while spinning up", RawKind::Count, "events", nullptr},
    {209, "seek performance in the disk's own tests", RawKind::MakerScale, "", nullptr},
    {211, "vibration registered while writing", RawKind::MakerScale, "", nullptr},
    {212, "shocks registered while writing", RawKind::MakerScale, "", nullptr},
    {220, "how far the platters have shifted, usually after a shock", RawKind::MakerScale, "",
     nullptr},
    {221, "shocks and vibration the disk's sensor registered", RawKind::Count, "events", nullptr},
    {222, "how long the heads have been loaded over the platters", RawKind::Hours, "", nullptr},
    {223, "how often loading the heads needed another try", RawKind::Count, "retries", nullptr},
    {224, "the friction the heads meet when loading", RawKind::MakerScale, "", nullptr},
    {225, "how often the heads were parked and unparked", RawKind::Count, "cycles", nullptr},
    {226, "how long loading the heads takes", RawKind::MakerScale, "", nullptr},
    {227, "how often the spindle needed extra force to turn", RawKind::Count, "events", nullptr},
    {228, "how often the heads were parked by a power loss", RawKind::Count, "retracts", nullptr},
    {230, "the signal strength of the heads", RawKind::MakerScale, "", nullptr},
    {231, "the temperature of the disk", RawKind::Celsius, "", nullptr},
    {232, "how much of a solid-state disk's write endurance is left", RawKind::MakerScale, "",
     nullptr},
    {233, "how long the disk has been powered on", RawKind::Hours, "", nullptr},
    {240, "how long the heads have been flying over the platters", RawKind::Hours, "", nullptr},
    {241, "how many blocks the computer has written to the disk", RawKind::Count, "blocks",
     nullptr},
    {242, "how many blocks the computer has read from the disk", RawKind::Count, "blocks", nullptr},
    {250, "reads that needed retries", RawKind::MakerScale, "", nullptr},
    {254, "how often the disk sensed a fall and parked its heads", RawKind::Count, "falls",
     nullptr},
};

const Note* NoteOf(std::uint8_t id) {
    for (const Note& n : kNotes)
        if (n.id == id) return &n;
    return nullptr;
}

}  // namespace

std::string DecodedRaw(const Attribute& a) {
    const Note* note = NoteOf(a.id);
    if (note == nullptr) return {};
    switch (note->kind) {
        case RawKind::Count:
            return std::to_string(a.raw) + " " + note->unit;
        case RawKind::Hours:
            // The upper bytes hold minutes or other counters on many disks.
            return std::to_string(a.raw & 0xFFFFFFFFu) + " hours";
        case RawKind::Celsius:
            // The upper bytes hold the lowest and highest temperature seen.
            return std::to_string(a.raw & 0xFFu) + " \u00B0C";
        case RawKind::MakerScale:
            break;
    }
    return {};
}

std::string StatusReason(const Attribute& a, std::uint8_t status) {
    if (status == kStatusGood) return {};
    const std::string mark = std::string(StatusText(status)) + ": ";
    if (BelowThreshold(a) && (status == kStatusError || a.id == 190))
        return mark + "worst value " + std::to_string(a.worst) + " is below the threshold " +
               ThresholdText(a) + ".";
    const Note* note = NoteOf(a.id);
    const std::string meaning =
        note != nullptr && note->alertMeaning != nullptr ? note->alertMeaning : "not zero";
    return mark + "raw value " + std::to_string(a.raw) + ": " + meaning + ".";
}

std::string AttributeTooltip(const Attribute& a, std::uint8_t status) {
    const Note* note = NoteOf(a.id);
    std::string tip = AttributeLabel(a.id) + ": " +
                      (note != nullptr ? note->sentence : "an attribute of the maker's own") +
                      ".\nRaw " + RawText(a.raw);
    const std::string decoded = DecodedRaw(a);
    if (!decoded.empty()) tip += " = " + decoded;
    const std::string reason = StatusReason(a, status);
    if (!reason.empty()) tip += "\n" + reason;
    return tip;
}

}  // namespace raid::smart
