#pragma once
// The registry editor's export format (".reg"), in which the settings live
// on Linux, so that a key exported on a Windows machine can be copied over
// as it is and strings, dwords and binary values keep their types:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\TAVI_RAID_GUI]
//   "Port"="25"
//   "EMailSend"=dword:00000000
//   "ProductID"=hex:12,ab,...
//
// Key paths and value names compare without regard to ASCII case, as in the
// registry.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

enum class RegType {
    String,  // REG_SZ: "text", or hex(1): in UTF-16 LE
    Dword,   // REG_DWORD: dword:0000001a, or hex(4): with four bytes
    Binary,  // REG_BINARY: hex:12,ab
    Other,   // any other hex(N): kept as bytes so that it survives a rewrite
};

struct RegValue {
    std::string name;  // "" is the key's default value, written "@"
    RegType type = RegType::String;
    std::string text;                 // String, UTF-8
    std::uint32_t number = 0;         // Dword
    std::vector<std::uint8_t> bytes;  // Binary and Other
    std::uint32_t rawType = 0;        // the N of hex(N) for Other

    static RegValue String(std::string name, std::string text);
    static RegValue Dword(std::string name, std::uint32_t number);
    static RegValue Binary(std::string name, std::vector<std::uint8_t> bytes);
};

struct RegKey {
    std::string path;  // "HKEY_LOCAL_MACHINE\SOFTWARE\TAVI_RAID_GUI"
    std::vector<RegValue> values;

    const RegValue* Find(std::string_view name) const;
    // Replaces the value of that name in place (keeping the stored
    // spelling of the name), or appends it.
    void Set(RegValue value);
    void Remove(std::string_view name);
};

struct RegDocument {
    std::vector<RegKey> keys;

    const RegKey* FindKey(std::string_view path) const;
    // The key of that path; appended when missing.
    RegKey& AddKey(std::string_view path);
};

// Larger files are not settings exports and are not read.
inline constexpr std::size_t kMaxRegFileBytes = 1024 * 1024;

// Parses an export in UTF-16 LE with BOM (as the registry editor writes
// it), UTF-8 with or without BOM, or a Windows code page (read as Latin-1);
// lines may end in CR LF or LF; hex data may continue over lines ending in
// "\". The first line must be "Windows Registry Editor Version 5.00" or
// "REGEDIT4". Comments (";") and blank lines are skipped; "[-key]" and
// "name"=- delete as on import. Anything else is refused: nullopt, with
// `error` naming the line ("line 7: ...").
std::optional<RegDocument> ParseRegText(std::span<const std::uint8_t> bytes, std::string& error);

// The export text of `doc`, in UTF-8 with CR LF: the version line, a blank
// line, then each key and its values followed by a blank line. Long hex data
// is wrapped as the registry editor wraps it. A string holding a control
// character is written as hex(1) so that it can never break a line.
std::string FormatRegText(const RegDocument& doc);

}  // namespace raid::mail
