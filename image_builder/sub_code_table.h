#pragma once
// The image builder's table: the boot loader and up to ten sub-code files
// with their code types and update flags, as the grid shows and edits it.
// Grid row r (1..11) shows entry r - 1; row 0 and column 0 hold titles.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::tools {

inline constexpr int kMaxSubCodes = 10;
inline constexpr int kTableEntries = kMaxSubCodes + 1;  // entry 0 is the boot loader
inline constexpr int kGridRows = kTableEntries + 1;
inline constexpr int kGridColumns = 4;

struct SubCodeEntry {
    std::string path;
    std::uint8_t codeType = 0;
    bool update = false;

    bool operator==(const SubCodeEntry&) const = default;
};

struct SubCodeTable {
    std::array<SubCodeEntry, kTableEntries> entries{};
    int count = 0;  // sub-codes, 0..10

    // Rows that show an entry: 1 (the boot loader) .. count + 1.
    bool IsUsedRow(int row) const { return row >= 1 && row <= count + 1; }
    bool IsSubCodeRow(int row) const { return row >= 2 && row <= count + 1; }
    SubCodeEntry& AtRow(int row) { return entries[static_cast<std::size_t>(row - 1)]; }
    const SubCodeEntry& AtRow(int row) const { return entries[static_cast<std::size_t>(row - 1)]; }
};

// The code type a sub-code file's name carries in the two characters just
// before its first "." ("SUB_1A.BIN" gives 0x1A): a first character that is
// no hex digit counts as 0, a second one that is none makes the type 0.
// None for a name without "." (the entry keeps the type it had).
std::optional<std::uint8_t> CodeTypeFromFileName(std::string_view fileName);

// Adds the files in order: "SPIHEAD.BIN" in any letter case replaces the
// boot loader, any other becomes the next sub-code with update flag TRUE.
// Refused as a whole, the table unchanged, when the sub-codes would number
// more than ten; returns the refusal text, empty when added.
std::string AddFiles(SubCodeTable& table, const std::vector<std::string>& paths);

// The grid's keys, by row; false (nothing changed) where the row may not.
// "+" on row 2 or higher swaps its entry with the one above; "-" on any used
// row but the last with the one below; both move whole entries, the boot
// loader's too. Delete removes a used row's entry and moves the rest up.
bool MoveRowUp(SubCodeTable& table, int row);
bool MoveRowDown(SubCodeTable& table, int row);
bool DeleteRow(SubCodeTable& table, int row);

// The in-cell editors, on sub-code rows only.
bool SetCodeType(SubCodeTable& table, int row, std::uint8_t codeType);
bool SetUpdateFlag(SubCodeTable& table, int row, bool update);

// Cell (row, column) as the grid shows it: titles, the file name without
// folder, the code type as "1Ah", "TRUE"/"FALSE"; the boot-loader row shows
// its file name only, unused rows are blank.
std::string GridCellText(const SubCodeTable& table, int row, int column);
// What the status bar tells of a selected used cell: the full path, the code
// type as two hex digits, or the update flag as a number; empty otherwise.
std::string CellDetailText(const SubCodeTable& table, int row, int column);

}  // namespace raid::tools
