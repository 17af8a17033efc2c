#include "image_builder/sub_code_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace raid::tools {
namespace {

constexpr const char* kBootLoaderName = "SPIHEAD.BIN";

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::optional<int> HexDigit(char c) {
    const int u = std::toupper(static_cast<unsigned char>(c));
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return std::nullopt;
}

std::string Hex2(std::uint8_t value) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", value);
    return buf;
}

}  // namespace

std::optional<std::uint8_t> CodeTypeFromFileName(std::string_view fileName) {
    const std::size_t dot = fileName.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    // A character before the start of the name counts as no digit.
    const auto digit = [&](std::size_t back) -> std::optional<int> {
        return dot >= back ? HexDigit(fileName[dot - back]) : std::nullopt;
    };
    const auto low = digit(1);
    if (!low) return 0;
    return static_cast<std::uint8_t>(digit(2).value_or(0) * 16 + *low);
}

std::string AddFiles(SubCodeTable& table, const std::vector<std::string>& paths) {
    const auto isBootLoader = [](const std::string& path) {
        return Upper(FileName(path)) == kBootLoaderName;
    };
    const auto subCodes = static_cast<int>(std::count_if(
        paths.begin(), paths.end(), [&](const std::string& p) { return !isBootLoader(p); }));
    if (table.count + subCodes > kMaxSubCodes)
        return "At most " + std::to_string(kMaxSubCodes) +
               " sub-codes fit in an image: " + std::to_string(table.count) +
               " are in the table, " + std::to_string(subCodes) +
               " more were chosen. Nothing was added.";
    for (const std::string& path : paths) {
        if (isBootLoader(path)) {
            table.entries[0].path = path;
            continue;
        }
        SubCodeEntry& entry = table.entries[static_cast<std::size_t>(table.count + 1)];
        entry.path = path;
        entry.update = true;
        if (const auto type = CodeTypeFromFileName(Upper(FileName(path)))) entry.codeType = *type;
        ++table.count;
    }
    return {};
}

bool MoveRowUp(SubCodeTable& table, int row) {
    if (row < 2 || !table.IsUsedRow(row)) return false;
    std::swap(table.AtRow(row), table.AtRow(row - 1));
    return true;
}

bool MoveRowDown(SubCodeTable& table, int row) {
    if (!table.IsUsedRow(row) || row == table.count + 1) return false;
    std::swap(table.AtRow(row), table.AtRow(row + 1));
    return true;
}

bool DeleteRow(SubCodeTable& table, int row) {
    if (!table.IsUsedRow(row)) return false;
    const auto from = table.entries.begin() + (row - 1);
    std::rotate(from, from + 1, table.entries.end());
    table.entries.back() = {};
    // With no sub-code the boot-loader row stays, emptied.
    if (table.count > 0) --table.count;
    return true;
}

bool SetCodeType(SubCodeTable& table, int row, std::uint8_t codeType) {
    if (!table.IsSubCodeRow(row)) return false;
    table.AtRow(row).codeType = codeType;
    return true;
}

bool SetUpdateFlag(SubCodeTable& table, int row, bool update) {
    if (!table.IsSubCodeRow(row)) return false;
    table.AtRow(row).update = update;
    return true;
}

std::string GridCellText(const SubCodeTable& table, int row, int column) {
    static const char* const kTitles[kGridColumns] = {"", "Subcode file", "Code Type",
                                                      "Update Flag"};
    if (row < 0 || row >= kGridRows || column < 0 || column >= kGridColumns) return {};
    if (row == 0) return kTitles[column];
    if (column == 0) return row == 1 ? "Boot Loader" : "SubCode-" + std::to_string(row - 2);
    if (!table.IsUsedRow(row)) return {};
    const SubCodeEntry& entry = table.AtRow(row);
    if (column == 1) return FileName(entry.path);
    if (row == 1) return {};
    return column == 2 ? Hex2(entry.codeType) + "h" : (entry.update ? "TRUE" : "FALSE");
}

std::string CellDetailText(const SubCodeTable& table, int row, int column) {
    if (!table.IsUsedRow(row)) return {};
    const SubCodeEntry& entry = table.AtRow(row);
    switch (column) {
        case 1:
            return entry.path;
        case 2:
            return Hex2(entry.codeType);
        case 3:
            return std::to_string(entry.update ? 1 : 0);
        default:
            return {};
    }
}

}  // namespace raid::tools
