#pragma once
// What the SMART page shows for one disk, as pure functions over a data
// block and its threshold block: the attribute rows with their verdicts and
// colours, the overall verdict, the 4K sector line and the heading. Blocks
// are taken as plain byte spans; an entry that lies (partly) outside its
// span reads as zero bytes, so a short or damaged block never faults.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace raid::smart {

using Bytes = std::span<const std::uint8_t>;

// The ATA attribute entries: 30 of 12 bytes from byte 2 of a block.
inline constexpr int kAttributeEntries = 30;
inline constexpr std::size_t kFirstEntryOffset = 2;
inline constexpr std::size_t kEntrySize = 12;

// Grid columns: "ID", "Value", "Worst", "Threshold", "RAW", "Status".
inline constexpr int kColumns = 6;
inline constexpr int kNameColumn = 0;
inline constexpr int kRawColumn = 4;
inline constexpr int kStatusColumn = 5;

// Per-attribute status. 1 and 2 add up in the overall verdict (two of them
// make a warning); 4 is a warning alone; 16 is an error.
inline constexpr std::uint8_t kStatusGood = 0;
inline constexpr std::uint8_t kStatusCountAlert = 1;
inline constexpr std::uint8_t kStatusPendingAlert = 2;
inline constexpr std::uint8_t kStatusWarningAlert = 4;
inline constexpr std::uint8_t kStatusError = 16;

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kMaroon{128, 0, 0};

// One entry of a data block with its threshold: byte 1 of the threshold
// entry with the same id. None when the threshold block holds no such entry
// (not read, or the disk lists no threshold for it).
struct Attribute {
    std::uint8_t id = 0;  // 0 = empty entry
    std::uint8_t current = 0;
    std::uint8_t worst = 0;
    std::optional<std::uint8_t> threshold;
    std::uint64_t raw = 0;  // 48 bits
};

// Entry `index` (0..29); an index outside the entries reads as empty. The
// threshold entry at the same position is taken when its id matches (the
// usual layout), else the first entry with the id.
Attribute AttributeAt(Bytes data, Bytes thresholds, int index);

// Whether the worst value is below a known threshold.
bool BelowThreshold(const Attribute& attribute);

// Column 3: the threshold in decimal, empty when there is none.
std::string ThresholdText(const Attribute& attribute);

// Status of an attribute by its id: worst below threshold for 5, 7, 8, 10
// (error) and 190 (warning); non-zero raw counts for 5, 10, 11, 196..199.
// A missing threshold is never crossed.
std::uint8_t AttributeStatus(const Attribute& attribute);

// The name of attribute `id` (the first match of the name table); null for
// an id the table does not list.
const char* AttributeName(std::uint8_t id);

// Column 0: "05-Reallocated sector count", or "E1h-UnKnown" for an id the
// name table does not list.
std::string AttributeLabel(std::uint8_t id);

// The raw value as 12 upper-case hex digits, most significant byte first.
std::string RawText(std::uint64_t raw);

// Column 5 and the row colour: "Error" red, "Alert" yellow, "Good" white.
const char* StatusText(std::uint8_t status);
Rgb StatusColour(std::uint8_t status);

struct SmartRow {
    Attribute attribute;
    std::uint8_t status = kStatusGood;
    std::array<std::string, kColumns> cells;
    Rgb colour = kWhite;
    // Why the status is not Good; empty when it is.
    std::string reason;
};

// The row of `attribute` with the status decided for it: its cells, colour
// and reason.
SmartRow RowOf(const Attribute& attribute, std::uint8_t status);

struct Verdict {
    std::string text;
    Rgb colour = kBlack;
};

struct FourKLine {
    std::string text;
    std::string hint;
};

// The overall verdict from its value: bit 4 set " Error " red, below 2
// " Good " black, otherwise " Warning " maroon.
Verdict OverallVerdict(std::uint8_t overall);

// " 4K Sector supported : Yes " for word 106 = 0x6003, " Unknown " for an
// error code (bit 15 set, or a marked echo code: the hint then gives the
// echo bytes), " No " otherwise; the hint names the value.
FourKLine FourKSectorLine(std::uint32_t word106Code);

// " SMART - <bay caption> : <model text>".
std::string SmartHeading(const std::string& bayCaption, const std::string& modelText);

struct SmartView {
    // The grid: the entries before the first empty one.
    std::vector<SmartRow> rows;
    // Over every non-empty entry, also those after an empty one.
    std::uint8_t overall = 0;
    // Both empty when there are no rows.
    Verdict verdict;
    FourKLine fourK;
};

// Everything the page shows of one disk.
SmartView BuildSmartView(Bytes data, Bytes thresholds, std::uint32_t word106Code);

// The view of rows decoded elsewhere (by the engine), with their overall
// value: the verdict and the 4K line added.
SmartView ViewOf(std::vector<SmartRow> rows, std::uint8_t overall, std::uint32_t word106Code);

// What selecting cell (row, column) of the grid shows in the status panel
// and as the grid's hint: column 0 its text, column 4 the row's raw value;
// nothing (the hint is cleared) for other columns or a row outside `rows`.
std::optional<std::string> SelectedCellText(const std::vector<SmartRow>& rows, int row, int column);

}  // namespace raid::smart
