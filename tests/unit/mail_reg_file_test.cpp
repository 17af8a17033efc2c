// The registry editor's export format: what the exporter writes is read with
// its types, what this program writes reads back the same, and what is not
// an export is refused with the line it failed on.
#include <gtest/gtest.h>

#include "mail/reg_file.h"
#include "mail/unicode_text.h"

namespace raid::mail {
namespace {

using namespace std::string_literals;

std::optional<RegDocument> Parse(const std::string& text, std::string* error = nullptr) {
    std::string e;
    auto doc =
        ParseRegText(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), e);
    if (error) *error = e;
    return doc;
}

std::string Refusal(const std::string& text) {
    std::string error;
    EXPECT_FALSE(Parse(text, &error)) << text;
    return error;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

TEST(RegFile, ReadsEveryKindOfValueAsTheExporterWritesIt) {
    const auto doc = Parse(kHeader +
                           "; written by hand\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
                           "\"Path\"=\"C:\\\\Temp\\\\\"\r\n"
                           "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                           "\"Count\"=dword:0000000a\r\n"
                           "\"Short\"=dword:1F\r\n"
                           "\"Blob\"=hex:00,01,fe,\\\r\n"
                           "  FF\r\n"
                           "\"Empty\"=hex:\r\n"
                           "\"Wide\"=hex(1):41,00,e4,00,00,00\r\n"
                           "\"AsDword\"=hex(4):01,02,00,00\r\n"
                           "\"Expand\"=hex(2):25,00,00,00\r\n"
                           "@=\"default\"\r\n"
                           "\"Spaced\" = \"ok\"   \r\n" +
                           "\"Nul\"=\"cut\0here\"\r\n"s +
                           "\r\n"
                           "[HKEY_CURRENT_USER\\Other]\r\n"
                           "\"Path\"=\"elsewhere\"\r\n");
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->keys.size(), 2u);
    const RegKey* key = doc->FindKey("hkey_local_machine\\software\\tavi_raid_gui");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Find("path")->text, "C:\\Temp\\");
    EXPECT_EQ(key->Find("Quote")->text, "say \"hi\"");
    EXPECT_EQ(key->Find("Count")->type, RegType::Dword);
    EXPECT_EQ(key->Find("Count")->number, 10u);
    EXPECT_EQ(key->Find("Short")->number, 0x1Fu);
    EXPECT_EQ(key->Find("Blob")->bytes, (std::vector<std::uint8_t>{0, 1, 0xFE, 0xFF}));
    EXPECT_EQ(key->Find("Empty")->type, RegType::Binary);
    EXPECT_TRUE(key->Find("Empty")->bytes.empty());
    EXPECT_EQ(key->Find("Wide")->type, RegType::String);
    EXPECT_EQ(key->Find("Wide")->text, "A\xC3\xA4");
    EXPECT_EQ(key->Find("AsDword")->type, RegType::Dword);
    EXPECT_EQ(key->Find("AsDword")->number, 0x201u);
    EXPECT_EQ(key->Find("Expand")->type, RegType::Other);
    EXPECT_EQ(key->Find("Expand")->rawType, 2u);
    EXPECT_EQ(key->Find("")->text, "default");
    EXPECT_EQ(key->Find("Spaced")->text, "ok");
    EXPECT_EQ(key->Find("Nul")->text, "cut");  // a registry string ends at NUL
    EXPECT_EQ(doc->FindKey("HKEY_CURRENT_USER\\Other")->Find("Path")->text, "elsewhere");
}

TEST(RegFile, ReadsUtf16WithBomUtf8WithBomAndBareLineFeeds) {
    const std::string text = "REGEDIT4\n\n[K]\n\"A\"=\"\xC3\xA9t\xC3\xA9\"\n";
    std::vector<std::uint8_t> utf16{0xFF, 0xFE};
    for (const std::uint8_t b : Utf8ToUtf16Le(text)) utf16.push_back(b);
    std::string error;
    const auto wide = ParseRegText(utf16, error);
    ASSERT_TRUE(wide) << error;
    EXPECT_EQ(wide->FindKey("K")->Find("A")->text, "\xC3\xA9t\xC3\xA9");
    const auto bom = Parse("\xEF\xBB\xBF" + text);
    ASSERT_TRUE(bom);
    EXPECT_EQ(bom->FindKey("K")->Find("A")->text, "\xC3\xA9t\xC3\xA9");
    // A Windows code page byte is read as Latin-1.
    EXPECT_EQ(Parse("REGEDIT4\n[K]\n\"A\"=\"\xE9\"\n")->FindKey("K")->Find("A")->text, "\xC3\xA9");
}

TEST(RegFile, DeletionsApplyAsOnImportAndLaterValuesWin) {
    const auto doc = Parse(kHeader +
                           "[K]\r\n\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n\"a\"=\"3\"\r\n\"B\"=-\r\n"
                           "[Gone]\r\n\"X\"=\"x\"\r\n[-Gone]\r\n\"Y\"=\"y\"\r\n");
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->keys.size(), 1u);
    const RegKey& k = doc->keys[0];
    ASSERT_EQ(k.values.size(), 1u);
    EXPECT_EQ(k.values[0].name, "A");  // the first spelling stays
    EXPECT_EQ(k.values[0].text, "3");
}

TEST(RegFile, RefusesWhatIsNotAnExportNamingTheLine) {
    const std::string k = kHeader + "[K]\r\n";
    const std::pair<std::string, const char*> cases[] = {
        {"", "line 1: empty file, no registry export"},
        {"hello\r\n",
         "line 1: not a registry export (\"Windows Registry Editor Version 5.00\" expected)"},
        {kHeader + "\"A\"=\"x\"\r\n", "line 3: a value before the first key"},
        {kHeader + "[K\r\n", "line 3: a key line must end in \"]\""},
        {kHeader + "[]\r\n", "line 3: empty key name"},
        {k + "\"A\"=\"open\r\n", "line 4: unterminated string"},
        {k + "\"A\"=\"x\" y\r\n", "line 4: text after the closing quote"},
        {k + "\"A\"=dword:123456789\r\n", "line 4: a dword needs 1 to 8 hex digits"},
        {k + "\"A\"=dword:xyz\r\n", "line 4: a dword needs 1 to 8 hex digits"},
        {k + "\"A\"=hex:1,2,,3\r\n", "line 4: bad hex data (of the value beginning on line 4)"},
        {k + "\"A\"=hex:100\r\n", "line 4: bad hex data (of the value beginning on line 4)"},
        {k + "\"A\"=hex:01,\\\r\n", "line 4: hex data continues past the end of the file"},
        {k + "\"A\"=hex(zz):01\r\n", "line 4: hex(N) needs a hex type number"},
        {k + "\"A\"=42\r\n", "line 4: unknown value data"},
        {k + "\"A\" \"x\"\r\n", "line 4: \"=\" expected after the name"},
        {k + "A=1\r\n", "line 4: a value line must begin with a quoted name or \"@\""},
        {std::string(kMaxRegFileBytes + 1, ' '), "larger than 1048576 bytes"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Refusal(text), expected) << text;
}

TEST(RegFile, WritesTheExportFormatAndReadsItBackUnchanged) {
    RegDocument doc;
    RegKey& key = doc.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI");
    key.Set(RegValue::String("Port", "25"));
    key.Set(RegValue::String("Name", "a \"b\" c:\\d"));
    key.Set(RegValue::Dword("EMailSend", 0));
    key.Set(RegValue::Binary("ProductID", {0x12, 0xAB}));
    std::vector<std::uint8_t> longData(40);
    for (std::size_t i = 0; i < longData.size(); ++i) longData[i] = static_cast<std::uint8_t>(i);
    key.Set(RegValue::Binary("Long", longData));
    // A line break in a string cannot be written in quotes.
    key.Set(RegValue::String("Broken", "one\r\n\"Injected\"=\"x\""));
    key.Set(RegValue::String("", "default"));

    const std::string text = FormatRegText(doc);
    EXPECT_EQ(
        text,
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
        "\"Port\"=\"25\"\r\n"
        "\"Name\"=\"a \\\"b\\\" c:\\\\d\"\r\n"
        "\"EMailSend\"=dword:00000000\r\n"
        "\"ProductID\"=hex:12,ab\r\n"
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\r\n"
        "\"Broken\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,22,00,49,00,6e,00,6a,00,65,00,63,\\\r\n"
        "  00,74,00,65,00,64,00,22,00,3d,00,22,00,78,00,22,00,00,00\r\n"
        "@=\"default\"\r\n"
        "\r\n");
    const auto back = Parse(text);
    ASSERT_TRUE(back);
    const RegKey& k = back->keys.at(0);
    ASSERT_EQ(k.values.size(), key.values.size());
    for (std::size_t i = 0; i < k.values.size(); ++i) {
        EXPECT_EQ(k.values[i].name, key.values[i].name);
        EXPECT_EQ(k.values[i].type, key.values[i].type);
        EXPECT_EQ(k.values[i].text, key.values[i].text);
        EXPECT_EQ(k.values[i].number, key.values[i].number);
        EXPECT_EQ(k.values[i].bytes, key.values[i].bytes);
    }
    EXPECT_EQ(FormatRegText(*back), text);
}

TEST(UnicodeText, ConvertsAndChecksWithoutEverFaulting) {
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA4 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    for (const char* bad :
         {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "a\xE2\x82"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ(TextAsUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("\xF0\x9F\x98\x80 ok")), "\xF0\x9F\x98\x80 ok");
    // An unpaired surrogate and an odd last byte.
    const std::vector<std::uint8_t> lone{0x00, 0xD8, 0x41, 0x00, 0x42};
    EXPECT_EQ(Utf16LeToUtf8(lone),
              "\xEF\xBF\xBD"
              "A");
    EXPECT_EQ(Utf8Prefix("ab\xC3\xA4", 3), "ab");
    EXPECT_EQ(Utf8Prefix("ab\xC3\xA4", 4), "ab\xC3\xA4");
}

}  // namespace
}  // namespace raid::mail
