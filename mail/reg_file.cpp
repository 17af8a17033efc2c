#include "mail/reg_file.h"

#include <algorithm>
#include <cstdio>

#include "mail/unicode_text.h"

namespace raid::mail {
namespace {

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kVersion4 = "REGEDIT4";
// The registry editor wraps hex data after about this many columns.
constexpr std::size_t kWrapColumn = 76;
constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A hex number of 1..maxDigits digits, the whole of `s`.
std::optional<std::uint32_t> HexNumber(std::string_view s, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t v = 0;
    for (const char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return v;
}

// The file's text as UTF-8.
std::string DecodeText(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return Utf16LeToUtf8(bytes.subspan(2));
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes = bytes.subspan(3);
    }
    return TextAsUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A registry string ends at its first NUL, wherever it came from.
void CutAtTerminator(std::string& text) { text.resize(std::min(text.size(), text.find('\0'))); }

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// A quoted string starting at s[pos] == '"', with the exporter's two
// escapes (\\ and \"); pos ends after the closing quote.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) ++pos;
        out += s[pos];
    }
    return false;
}

bool ParseHexBytes(std::string_view list, std::vector<std::uint8_t>& out) {
    out.clear();
    list = Trim(list);
    if (list.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view item =
            Trim(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
        const bool last = comma == std::string_view::npos;
        // The exporter never writes empty items; one after a final comma is
        // the only kind tolerated.
        if (item.empty() && last && !out.empty()) return true;
        const auto byte = HexNumber(item, 2);
        if (!byte) return false;
        out.push_back(static_cast<std::uint8_t>(*byte));
        if (last) return true;
        start = comma + 1;
    }
}

class Parser {
public:
    Parser(std::vector<std::string_view> lines, std::string& error)
        : lines_(std::move(lines)), error_(error) {}

    std::optional<RegDocument> Run() {
        if (lines_.empty()) return Fail(1, "empty file, no registry export");
        const std::string_view header = Trim(lines_[0]);
        if (header != kVersion5 && header != kVersion4) {
            return Fail(1, "not a registry export (\"" + std::string(kVersion5) + "\" expected)");
        }
        for (next_ = 1; next_ < lines_.size();) {
            const std::size_t number = next_ + 1;
            const std::string_view line = Trim(lines_[next_++]);
            if (line.empty() || line.front() == ';') continue;
            const bool ok = line.front() == '[' ? KeyLine(line) : ValueLine(line, number);
            if (!ok) return Fail(number, reason_);
        }
        return std::move(doc_);
    }

private:
    std::nullopt_t Fail(std::size_t line, const std::string& reason) {
        error_ = "line " + std::to_string(line) + ": " + reason;
        return std::nullopt;
    }

    bool Refuse(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

    bool KeyLine(std::string_view line) {
        if (line.back() != ']') return Refuse("a key line must end in \"]\"");
        std::string_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == '-') {
            path.remove_prefix(1);
            std::erase_if(doc_.keys, [&](const RegKey& k) { return SameName(k.path, path); });
            current_ = nullptr;
            deleted_ = true;
            return true;
        }
        if (path.empty()) return Refuse("empty key name");
        current_ = &doc_.AddKey(path);
        deleted_ = false;
        return true;
    }

    bool ValueLine(std::string_view line, std::size_t number) {
        RegValue value;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() != '"' || !ParseQuoted(line, pos, value.name)) {
            return Refuse("a value line must begin with a quoted name or \"@\"");
        }
        const std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') return Refuse("\"=\" expected after the name");
        const std::string_view data = TrimLeft(rest.substr(1));
        if (current_ == nullptr && !deleted_) return Refuse("a value before the first key");
        if (!Data(data, value, number)) return false;
        if (current_ == nullptr) return true;  // a value of a deleted key
        if (deleteValue_) {
            current_->Remove(value.name);
            deleteValue_ = false;
        } else {
            current_->Set(std::move(value));
        }
        return true;
    }

    bool Data(std::string_view data, RegValue& value, std::size_t number) {
        if (data == "-") {
            deleteValue_ = true;
            return true;
        }
        if (!data.empty() && data.front() == '"') {
            std::size_t pos = 0;
            if (!ParseQuoted(data, pos, value.text)) return Refuse("unterminated string");
            if (!Trim(data.substr(pos)).empty()) return Refuse("text after the closing quote");
            value.type = RegType::String;
            CutAtTerminator(value.text);
            return true;
        }
        if (data.starts_with("dword:")) {
            const auto n = HexNumber(Trim(data.substr(6)), 8);
            if (!n) return Refuse("a dword needs 1 to 8 hex digits");
            value.type = RegType::Dword;
            value.number = *n;
            return true;
        }
        if (data.starts_with("hex")) return HexData(data.substr(3), value, number);
        return Refuse("unknown value data");
    }

    bool HexData(std::string_view data, RegValue& value, std::size_t number) {
        std::uint32_t type = kTypeBinary;
        if (!data.empty() && data.front() == '(') {
            const std::size_t close = data.find(')');
            const auto n =
                close == data.npos ? std::nullopt : HexNumber(data.substr(1, close - 1), 8);
            if (!n) return Refuse("hex(N) needs a hex type number");
            type = *n;
            data.remove_prefix(close + 1);
        }
        if (data.empty() || data.front() != ':') return Refuse("\":\" expected after hex");
        // Long data goes on over lines that end in a backslash.
        std::string list(Trim(data.substr(1)));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (next_ >= lines_.size())
                return Refuse("hex data continues past the end of the file");
            list += Trim(lines_[next_++]);
        }
        std::vector<std::uint8_t> bytes;
        if (!ParseHexBytes(list, bytes)) {
            return Refuse("bad hex data (of the value beginning on line " + std::to_string(number) +
                          ")");
        }
        if (type == kTypeString) {
            value.type = RegType::String;
            value.text = Utf16LeToUtf8(bytes);
            CutAtTerminator(value.text);
        } else if (type == kTypeDword && bytes.size() == 4) {
            value.type = RegType::Dword;
            value.number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                           (static_cast<std::uint32_t>(bytes[3]) << 24);
        } else if (type == kTypeBinary) {
            value.type = RegType::Binary;
            value.bytes = std::move(bytes);
        } else {
            value.type = RegType::Other;
            value.rawType = type;
            value.bytes = std::move(bytes);
        }
        return true;
    }

    std::vector<std::string_view> lines_;
    std::string& error_;
    std::string reason_;
    std::size_t next_ = 0;
    RegDocument doc_;
    RegKey* current_ = nullptr;
    bool deleted_ = false;      // inside a "[-key]" section
    bool deleteValue_ = false;  // the value line read was "name"=-
};

std::string Quoted(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void AppendHex(std::string& out, std::string line, std::span<const std::uint8_t> bytes) {
    char pair[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        line += pair;
        if (i + 1 == bytes.size()) break;
        line += ',';
        if (line.size() > kWrapColumn) {
            out += line + "\\\r\n";
            line = "  ";
        }
    }
    out += line + "\r\n";
}

void AppendValue(std::string& out, const RegValue& v) {
    const std::string name = (v.name.empty() ? std::string("@") : Quoted(v.name)) + "=";
    switch (v.type) {
        case RegType::String:
            if (!HasControl(v.text)) {
                out += name + Quoted(v.text) + "\r\n";
            } else {
                std::vector<std::uint8_t> units = Utf8ToUtf16Le(v.text);
                units.insert(units.end(), {0, 0});
                AppendHex(out, name + "hex(1):", units);
            }
            return;
        case RegType::Dword: {
            char digits[9];
            std::snprintf(digits, sizeof digits, "%08x", v.number);
            out += name + "dword:" + digits + "\r\n";
            return;
        }
        case RegType::Binary:
            AppendHex(out, name + "hex:", v.bytes);
            return;
        case RegType::Other: {
            char type[16];
            std::snprintf(type, sizeof type, "hex(%x):", v.rawType);
            AppendHex(out, name + type, v.bytes);
            return;
        }
    }
}

}  // namespace

RegValue RegValue::String(std::string name, std::string text) {
    RegValue v;
    v.name = std::move(name);
    v.type = RegType::String;
    v.text = std::move(text);
    return v;
}

RegValue RegValue::Dword(std::string name, std::uint32_t number) {
    RegValue v;
    v.name = std::move(name);
    v.type = RegType::Dword;
    v.number = number;
    return v;
}

RegValue RegValue::Binary(std::string name, std::vector<std::uint8_t> bytes) {
    RegValue v;
    v.name = std::move(name);
    v.type = RegType::Binary;
    v.bytes = std::move(bytes);
    return v;
}

const RegValue* RegKey::Find(std::string_view name) const {
    for (const RegValue& v : values) {
        if (SameName(v.name, name)) return &v;
    }
    return nullptr;
}

void RegKey::Set(RegValue value) {
    for (RegValue& v : values) {
        if (SameName(v.name, value.name)) {
            // The registry keeps the spelling the value was created with.
            value.name = std::move(v.name);
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

void RegKey::Remove(std::string_view name) {
    std::erase_if(values, [&](const RegValue& v) { return SameName(v.name, name); });
}

const RegKey* RegDocument::FindKey(std::string_view path) const {
    for (const RegKey& k : keys) {
        if (SameName(k.path, path)) return &k;
    }
    return nullptr;
}

RegKey& RegDocument::AddKey(std::string_view path) {
    for (RegKey& k : keys) {
        if (SameName(k.path, path)) return k;
    }
    keys.push_back(RegKey{std::string(path), {}});
    return keys.back();
}

std::optional<RegDocument> ParseRegText(std::span<const std::uint8_t> bytes, std::string& error) {
    if (bytes.size() > kMaxRegFileBytes) {
        error = "larger than " + std::to_string(kMaxRegFileBytes) + " bytes";
        return std::nullopt;
    }
    const std::string text = DecodeText(bytes);
    return Parser(SplitLines(text), error).Run();
}

std::string FormatRegText(const RegDocument& doc) {
    std::string out = std::string(kVersion5) + "\r\n\r\n";
    for (const RegKey& key : doc.keys) {
        out += "[" + key.path + "]\r\n";
        for (const RegValue& v : key.values) AppendValue(out, v);
        out += "\r\n";
    }
    return out;
}

}  // namespace raid::mail
