// The e-mail settings on a temporary settings file: the start-up check, the
// load and the save, the password record, the template files, and how the
// file is written (mode, atomic replacement) and read (the exporter's own
// files, damaged files).
#include "mail/mail_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "mail/event_templates.h"
#include "mail/mail_event.h"
#include "service/mail_access.h"
#include "tests/unit/scratch_folder.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::mail {
namespace {

namespace fs = std::filesystem;
using platform::WriteStep;
using test_support::ReadFile;
using test_support::WriteFile;

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string HexList(const PasswordRecord& r) {
    std::string out;
    char pair[4];
    for (std::size_t i = 0; i < r.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", r[i]);
        out += (i ? "," : "") + std::string(pair);
    }
    return out;
}

mode_t Mode(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

class MailSettingsTest : public ::testing::Test {
protected:
    // A page as a user fills it on first use.
    static MailPageFields Page() {
        MailPageFields f;
        f.settings.port = "2525";
        f.settings.host = "mail.example.com";
        f.settings.senderName = "RAID Box";
        f.settings.senderAddress = "raid@example.com";
        f.settings.timeOut = "15";
        f.settings.password = "s3cret";
        f.settings.account = "raid";
        f.authentication = true;
        f.addresses = {"ops@example.com", "boss@example.com"};
        f.events[0].subject = {"Disk lost"};
        f.events[0].body = {"Replace it.", "Soon."};
        return f;
    }

    void Write(const std::string& text) {
        fs::create_directories(file.parent_path());
        WriteFile(file, text);
    }
    std::optional<std::string> Start() { return CheckMailSettingsAtStartup(store, state, flags); }
    std::optional<std::string> Load() { return LoadMailSettings(store, state, flags); }
    void Save(MailPageFields fields) {
        const auto error = SaveMailSettings(store, state, flags, fields);
        ASSERT_FALSE(error) << *error;
    }
    // The state a second program gets from the same file.
    MailSettingsState Fresh() {
        SettingsStore other(file);
        MailSettingsState fresh;
        ShellFlags otherFlags;
        CheckMailSettingsAtStartup(other, fresh, otherFlags);
        LoadMailSettings(other, fresh, otherFlags);
        return fresh;
    }
    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(file.parent_path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test_support::ScratchFolder scratch{"mail_settings"};
    fs::path file = scratch.path() / "etc" / "settings.reg";
    SettingsStore store{file};
    MailSettingsState state;
    ShellFlags flags;
};

TEST_F(MailSettingsTest, FirstStartWithoutFileLoadsNothingAndTheFirstSaveWritesEverything) {
    EXPECT_FALSE(Start());
    EXPECT_FALSE(state.keyExists);
    EXPECT_FALSE(state.loaded);
    EXPECT_EQ(state.templateFolder, (scratch.path() / "etc").string() + "/");
    EXPECT_EQ(flags.mailRequestFlags.load(), 0);
    EXPECT_FALSE(fs::exists(file));

    const mode_t old = ::umask(022);
    Save(Page());
    ::umask(old);
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(Mode(file.parent_path()), 0700u);
    EXPECT_TRUE(state.keyExists);
    EXPECT_FALSE(state.loaded);
    EXPECT_EQ(flags.mailRequestFlags.load(), kRequestReload);

    const std::string text = ReadFile(file);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n",
                         0),
              0u);
    for (const char* line :
         {"\"Port\"=\"2525\"\r\n", "\"TimeOut\"=\"15\"\r\n", "\"EMailSend\"=dword:00000000\r\n",
          "\"ToAddrCount\"=dword:00000002\r\n", "\"ToAddr_01\"=\"boss@example.com\"\r\n",
          "\"Security\"=\"None\"\r\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(ReadFile(SubjectFile(state.templateFolder, 1)), "Disk lost\r\n");
    EXPECT_EQ(ReadFile(BodyFile(state.templateFolder, 1)), "Replace it.\r\nSoon.\r\n");
    EXPECT_FALSE(fs::exists(SubjectFile(state.templateFolder, 2)));

    EXPECT_FALSE(Load());
    EXPECT_TRUE(state.loaded);
    EXPECT_EQ(flags.mailRequestFlags.load(), 0);
    EXPECT_EQ(state.pageChangedBits, 0);
    const MailSettings& s = state.settings;
    EXPECT_EQ(s.port, "2525");
    EXPECT_EQ(s.host, "mail.example.com");
    EXPECT_EQ(s.senderName, "RAID Box");
    EXPECT_EQ(s.senderAddress, "raid@example.com");
    EXPECT_EQ(s.timeOut, "15");
    EXPECT_EQ(s.password, "s3cret");
    EXPECT_EQ(s.account, "raid");
    EXPECT_EQ(state.authState, kAuthOn);
    EXPECT_EQ(state.recipients, Page().addresses);
    EXPECT_EQ(state.recipientCount, 2u);
    EXPECT_EQ(state.templates[1].subject, std::vector<std::string>{"Disk lost"});
    EXPECT_EQ(state.templates[1].body, (std::vector<std::string>{"Replace it.", "Soon."}));
}

TEST_F(MailSettingsTest, AKeyWithoutAccountGetsThePartOfTheAddressBeforeTheAt) {
    const std::pair<const char*, const char*> cases[] = {
        {"alice@example.com", "alice"}, {"postmaster", "postmaster"}, {"", ""}, {"@x", ""}};
    for (const auto& [addr, account] : cases) {
        Write(
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
            "\"Addr\"=\"" +
            std::string(addr) + "\"\r\n");
        state = {};
        flags.mailRequestFlags = 0;
        EXPECT_FALSE(Start());
        EXPECT_TRUE(state.keyExists);
        EXPECT_EQ(flags.mailRequestFlags.load(), kRequestReload);
        EXPECT_EQ(store.ReadString("UserID"), account) << addr;
        EXPECT_EQ(store.ReadDword("EMailSend"), 0u);
        EXPECT_FALSE(Load());
        EXPECT_EQ(state.settings.account, account);
        EXPECT_EQ(state.recipientCount, 0u);  // no "ToAddrCount": none
    }
    // A key that has both is not written at start-up.
    const std::string before = ReadFile(file);
    state = {};
    Start();
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(MailSettingsTest, PasswordsRoundTripAndTheCheckByteCarriesTheSwitch) {
    Start();
    for (const char* password : {"123456789012345", "", "p"}) {
        for (const bool auth : {true, false}) {
            MailPageFields page = Page();
            page.settings.password = password;
            page.authentication = auth;
            state.pageChangedBits = changed::kPassword;
            Save(page);
            Load();
            EXPECT_EQ(state.settings.password, password);
            EXPECT_EQ(state.authState, auth ? kAuthOn : kAuthOff) << password;
        }
    }
    // The record alone: an empty password with the switch on is state 1;
    // the key byte is kept from the record last read.
    PasswordRecord r = EncodePasswordRecord("", true, 0x5C);
    EXPECT_EQ(r[16], 0x5C);
    EXPECT_EQ(DecodePasswordRecord(r).authState, kAuthOn);
    EXPECT_EQ(DecodePasswordRecord(r).password, "");
    // Only 15 bytes are kept.
    EXPECT_EQ(DecodePasswordRecord(EncodePasswordRecord("1234567890123456", false, 0)).password,
              "123456789012345");

    r = EncodePasswordRecord("hunter2", false, 0x37);
    PasswordRecord flipped = r;
    flipped[17] ^= 1;
    EXPECT_EQ(DecodePasswordRecord(flipped).password, "hunter2");
    EXPECT_EQ(DecodePasswordRecord(flipped).authState, kAuthOn);
    PasswordRecord broken = r;
    broken[17] ^= 0x10;
    EXPECT_EQ(DecodePasswordRecord(broken).password, "ErrorFormat");
    EXPECT_EQ(DecodePasswordRecord(broken).authState, kAuthInvalid);

    // The same through the file: a broken check byte loads as "ErrorFormat"
    // with authentication off.
    Write(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
        "\"ProductID\"=hex:" +
        HexList(broken) + "\r\n\"UserID\"=\"u\"\r\n");
    Load();
    EXPECT_EQ(state.settings.password, "ErrorFormat");
    EXPECT_EQ(state.authState, kAuthInvalid);
    EXPECT_FALSE(state.Authenticates());
}

// A record written by this version must open in every later one: these
// bytes pin the program's own scramble table.
TEST(PasswordRecord, TheScrambleIsPinnedByFixedBytes) {
    struct Case {
        std::string password;
        bool authentication;
        std::uint8_t key;
        PasswordRecord bytes;
    };
    const Case cases[] = {
        {"s3cret",
         true,
         0x00,
         {0x29, 0xF7, 0x7B, 0xE3, 0x52, 0x9D, 0x77, 0xAF, 0x52, 0xCA, 0x14, 0x9D, 0x37, 0xE9, 0x7F,
          0xA7, 0x00, 0xCD}},
        // Bytes that are no UTF-8 stay as they are.
        {"p\xE4ss\xFF\x80",
         false,
         0xA7,
         {0x8D, 0x81, 0xCC, 0x47, 0x9F, 0xC6, 0xD0, 0x08, 0xF5, 0x6D, 0xB3, 0x3A, 0x90, 0x4E, 0xD8,
          0x00, 0xA7, 0x96}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodePasswordRecord(c.password, c.authentication, c.key), c.bytes) << c.password;
        const DecodedPassword decoded = DecodePasswordRecord(c.bytes);
        EXPECT_EQ(decoded.password, c.password);
        EXPECT_EQ(decoded.authState, c.authentication ? kAuthOn : kAuthOff);
    }
}

TEST_F(MailSettingsTest, RemovingEveryRecipientStoresCountZero) {
    Start();
    Save(Page());
    Load();
    MailPageFields page = Page();
    page.addresses.clear();
    Save(page);
    EXPECT_EQ(state.pageChangedBits & changed::kRecipients, changed::kRecipients);
    EXPECT_EQ(store.ReadDword("ToAddrCount"), 0u);
    // Values beyond the count stay and are not read.
    EXPECT_EQ(store.ReadString("ToAddr_00"), "ops@example.com");
    Load();
    EXPECT_TRUE(state.recipients.empty());
    EXPECT_EQ(state.recipientCount, 0u);
}

TEST_F(MailSettingsTest, EmptyingASubjectDeletesItsFile) {
    Start();
    Save(Page());
    Load();
    ASSERT_TRUE(fs::exists(SubjectFile(state.templateFolder, 1)));
    MailPageFields page = Page();
    page.events[0].subject.clear();
    page.events[0].body.clear();
    Save(page);
    EXPECT_FALSE(fs::exists(SubjectFile(state.templateFolder, 1)));
    EXPECT_FALSE(fs::exists(BodyFile(state.templateFolder, 1)));
    Load();
    EXPECT_TRUE(state.templates[1].subject.empty());
    EXPECT_TRUE(state.templates[1].body.empty());
}

TEST_F(MailSettingsTest, WithAKeyOnlyChangedFieldsAreWrittenAndTheRestOfTheFileStays) {
    Start();
    Save(Page());
    Load();
    // Another program changes the host and adds a value of its own.
    SettingsStore other(file);
    std::string error;
    ASSERT_TRUE(other.Update(
        [](RegKey& key) {
            key.Set(RegValue::String("SMTP", "relay.example.net"));
            key.Set(RegValue::Dword("Extra", 7));
        },
        error));
    MailPageFields page = Page();
    page.settings.port = "587";
    page.settings.host = "typed.but.unmarked";
    state.pageChangedBits = changed::kPort;
    Save(page);
    EXPECT_EQ(store.ReadString("Port"), "587");
    EXPECT_EQ(store.ReadString("SMTP"), "relay.example.net");
    EXPECT_EQ(store.ReadDword("Extra"), 7u);
}

TEST_F(MailSettingsTest, EmptyPortAndTimeOutBecomeDefaultsMarkedAsChanged) {
    Start();
    MailPageFields page = Page();
    page.settings.port.clear();
    page.settings.timeOut.clear();
    const auto error = SaveMailSettings(store, state, flags, page);
    ASSERT_FALSE(error);
    EXPECT_EQ(page.settings.port, "25");
    EXPECT_EQ(page.settings.timeOut, "0");
    EXPECT_EQ(state.pageChangedBits & (changed::kPort | changed::kTimeOut),
              changed::kPort | changed::kTimeOut);
    EXPECT_EQ(store.ReadString("Port"), "25");
}

TEST_F(MailSettingsTest, ASaveThatFailsLeavesTheOldFileWholeAndMemoryAsItWas) {
    Start();
    Save(Page());
    Load();
    const std::string before = ReadFile(file);
    const auto entries = FolderEntries();
    const MailSettingsState kept = state;

    struct Case {
        WriteStep step;
        int err;
        const char* reason;
    };
    for (const Case c : {Case{WriteStep::Rename, EIO, "Input/output error"},
                         Case{WriteStep::WriteData, ENOSPC, "No space left on device"}}) {
        store.setWriteFault([c](WriteStep step) { return step == c.step ? c.err : 0; });
        MailPageFields page = Page();
        page.settings.host = "new.example.com";
        page.suppressDiskFail = true;
        page.addresses.push_back("third@example.com");
        state.pageChangedBits = changed::kHost;
        const auto error = SaveMailSettings(store, state, flags, page);
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, "Cannot write settings file " + file.string() + ": " + c.reason);
        EXPECT_EQ(ReadFile(file), before);
        EXPECT_EQ(FolderEntries(), entries);  // no temporary file left behind
        EXPECT_EQ(state.suppressMask, kept.suppressMask);
        EXPECT_EQ(state.recipients, kept.recipients);
        EXPECT_TRUE(state.loaded);
        EXPECT_EQ(state.pageChangedBits, changed::kHost);  // OK can be pressed again
        EXPECT_EQ(flags.mailRequestFlags.load(), 0);
    }
    store.setWriteFault({});
    MailPageFields page = Page();
    page.settings.host = "new.example.com";
    Save(page);
    EXPECT_EQ(Fresh().settings.host, "new.example.com");
}

TEST_F(MailSettingsTest, AFileThatCannotBeWrittenIsReportedWithItsReason) {
    // A plain file where the settings folder should be.
    WriteFile(scratch.path() / "etc", "not a folder");
    Start();
    MailPageFields page = Page();
    const auto error = SaveMailSettings(store, state, flags, page);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("Not a directory"), std::string::npos) << *error;
    EXPECT_FALSE(state.keyExists);
    EXPECT_EQ(page.addresses, Page().addresses);
}

TEST_F(MailSettingsTest, TheExportersOwnFilesLoadInUtf16AndInAscii) {
    const PasswordRecord record = EncodePasswordRecord("pa55", true, 0xA7);
    // As the registry editor writes it: CR LF, dwords in lower-case hex,
    // long data wrapped after a backslash, a Windows template folder.
    const std::string exported =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
        "\"Port\"=\"25\"\r\n"
        "\"SMTP\"=\"smtp.example.org\"\r\n"
        "\"UserName\"=\"Server \\\"Room\\\" 2\"\r\n"
        "\"Addr\"=\"nas@example.org\"\r\n"
        "\"TimeOut\"=\"10\"\r\n"
        "\"UserID\"=\"nas\"\r\n"
        "\"EMailSend\"=dword:00000002\r\n"
        "\"ProductID\"=hex:" +
        HexList(record).substr(0, 30) +
        "\\\r\n"
        "  " +
        HexList(record).substr(30) +
        "\r\n"
        "\"ToAddrCount\"=dword:00000002\r\n"
        "\"ToAddr_00\"=\"one@example.org\"\r\n"
        "\"ToAddr_01\"=\"two@example.org\"\r\n"
        "\"FilePath\"=\"C:\\\\WINDOWS\\\\system32\\\\\"\r\n"
        "\r\n";
    for (const std::string& bytes : {Utf16Le(exported), exported}) {
        Write(bytes);
        state = {};
        EXPECT_FALSE(Start());
        EXPECT_FALSE(Load());
        EXPECT_TRUE(state.loaded);
        EXPECT_EQ(state.settings.host, "smtp.example.org");
        EXPECT_EQ(state.settings.senderName, "Server \"Room\" 2");
        EXPECT_EQ(state.settings.timeOut, "10");
        EXPECT_EQ(state.settings.password, "pa55");
        EXPECT_EQ(state.authState, kAuthOn);
        EXPECT_EQ(state.settings.security, Security::None);  // no "Security" value
        EXPECT_FALSE(state.settings.requireTls);             // no "RequireTLS" value
        EXPECT_EQ(state.suppressMask, 2u);
        EXPECT_EQ(state.recipients,
                  (std::vector<std::string>{"one@example.org", "two@example.org"}));
        // A Windows folder means nothing here: the settings folder serves.
        EXPECT_EQ(state.templateFolder, file.parent_path().string() + "/");
        EXPECT_EQ(ReadFile(file), bytes);  // nothing to back-fill: not rewritten
    }
}

TEST_F(MailSettingsTest, ValuesOfTheWrongTypeReadAsEmptyOrZero) {
    Write(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
        "\"Port\"=dword:00000019\r\n"
        "\"EMailSend\"=\"3\"\r\n"
        "\"ToAddrCount\"=\"2\"\r\n"
        "\"ToAddr_00\"=\"a@b\"\r\n"
        "\"UserID\"=\"x\"\r\n");
    Start();
    EXPECT_FALSE(Load());
    EXPECT_TRUE(state.loaded);
    EXPECT_EQ(state.settings.port, "");
    EXPECT_EQ(state.suppressMask, 0u);
    EXPECT_EQ(state.recipientCount, 0u);
    EXPECT_TRUE(state.recipients.empty());

    // A count above ten reads as ten.
    Write(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\n"
        "\"ToAddrCount\"=dword:ffffffff\n");
    Load();
    EXPECT_EQ(state.recipientCount, kMaxRecipients);
    EXPECT_EQ(state.recipients.size(), kMaxRecipients);
}

TEST_F(MailSettingsTest, ADamagedFileIsLeftAloneToldOnceAndKeptBesideByTheNextSave) {
    const std::string damaged =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI]\r\n"
        "\"Port\"=\"25\"\r\n"
        "Port=25\r\n";
    Write(damaged);
    const auto problem = Start();
    ASSERT_TRUE(problem);
    EXPECT_EQ(*problem, "The settings file " + file.string() +
                            " is damaged (line 5: a value line must begin with a quoted name or "
                            "\"@\"); it is left as it is and no settings are used.");
    EXPECT_FALSE(state.keyExists);
    EXPECT_EQ(flags.mailRequestFlags.load(), 0);
    EXPECT_EQ(ReadFile(file), damaged);
    EXPECT_FALSE(Load());  // told once
    EXPECT_FALSE(state.loaded);
    EXPECT_EQ(ReadFile(file), damaged);

    Save(Page());
    EXPECT_EQ(ReadFile(fs::path(file.string() + ".damaged")), damaged);
    EXPECT_FALSE(Load());
    EXPECT_TRUE(state.loaded);
    EXPECT_EQ(state.settings.host, "mail.example.com");

    // Damaged again later: told again.
    Write("garbage");
    EXPECT_TRUE(Load());
    EXPECT_FALSE(state.loaded);
}

TEST_F(MailSettingsTest, AnAdministratorsFileIsReadUntilTheMachinesOwnIsWrittenAndNeverWritten) {
    Save(Page());
    const std::string adminBytes = ReadFile(file);
    // The machine's own file in a state folder that does not exist yet.
    const fs::path own = scratch.path() / "state" / "settings.reg";
    SettingsStore machine(own, file);
    MailSettingsState seen;
    ShellFlags seenFlags;
    ASSERT_FALSE(CheckMailSettingsAtStartup(machine, seen, seenFlags));
    ASSERT_FALSE(LoadMailSettings(machine, seen, seenFlags));
    EXPECT_EQ(seen.settings.host, "mail.example.com");

    MailPageFields edited = Page();
    edited.settings.host = "relay.example.com";
    seen.pageChangedBits = changed::kHost;
    ASSERT_FALSE(SaveMailSettings(machine, seen, seenFlags, edited));
    EXPECT_EQ(ReadFile(file), adminBytes);  // never written
    // Its templates too go beside the machine's file.
    EXPECT_TRUE(fs::exists(SubjectFile(own.parent_path(), 1)));
    EXPECT_EQ(Mode(own.parent_path()), 0700u);
    EXPECT_EQ(Mode(own), 0600u);
    SettingsStore again(own, file);
    MailSettingsState reread;
    ShellFlags rereadFlags;
    CheckMailSettingsAtStartup(again, reread, rereadFlags);
    LoadMailSettings(again, reread, rereadFlags);
    EXPECT_EQ(reread.settings.host, "relay.example.com");
    EXPECT_EQ(reread.settings.senderAddress, "raid@example.com");  // the rest from the admin's

    // A damaged administrator's file: told with its name, kept beside the
    // machine's file by the first save, and left as it is.
    Write("garbage");
    const fs::path fresh = scratch.path() / "state2" / "settings.reg";
    SettingsStore second(fresh, file);
    MailSettingsState damaged;
    ShellFlags damagedFlags;
    const auto problem = CheckMailSettingsAtStartup(second, damaged, damagedFlags);
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find(file.string() + " is damaged"), std::string::npos) << *problem;
    MailPageFields first = Page();
    ASSERT_FALSE(SaveMailSettings(second, damaged, damagedFlags, first));
    EXPECT_EQ(ReadFile(fs::path(fresh.string() + ".damaged")), "garbage");
    EXPECT_EQ(ReadFile(file), "garbage");
    EXPECT_FALSE(fs::exists(file.string() + ".damaged"));
}

TEST_F(MailSettingsTest, ASymbolicLinkIsRefusedAndNeverWrittenThrough) {
    const fs::path outside = scratch.path() / "outside";
    fs::create_directories(outside);
    WriteFile(outside / "target", "keep\n");
    const std::string refused = ": it is a symbolic link, and links are not followed when writing";
    const auto save = [&] {
        MailPageFields page = Page();
        return SaveMailSettings(store, state, flags, page).value_or("saved");
    };
    // At the settings file's own name,
    fs::create_directories(file.parent_path());
    fs::create_symlink(outside / "target", file);
    Start();
    EXPECT_EQ(save(), "Cannot write settings file " + file.string() + refused);
    // at the name of the copy of a damaged file,
    fs::remove(file);
    Write("damaged");
    const fs::path aside = file.string() + ".damaged";
    fs::create_symlink(outside / "target", aside);
    EXPECT_EQ(save(), "Cannot write copy of the damaged settings file " + aside.string() + refused);
    EXPECT_EQ(ReadFile(file), "damaged");
    // and as the settings folder.
    fs::remove_all(file.parent_path());
    fs::create_directory_symlink(outside, file.parent_path());
    EXPECT_EQ(save(), "Cannot write settings file " + file.string() + ": its folder " +
                          file.parent_path().string() +
                          " is a symbolic link, and links are not followed when writing");
    EXPECT_EQ(ReadFile(outside / "target"), "keep\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
}

TEST_F(MailSettingsTest, SecurityAndRequireTlsAreStoredAndMissingValuesAreNoneAndOff) {
    Start();
    MailPageFields page = Page();
    page.settings.security = Security::StartTls;
    Save(page);
    EXPECT_EQ(store.ReadString("Security"), "STARTTLS");
    EXPECT_EQ(store.ReadDword("RequireTLS"), 0u);
    Load();
    EXPECT_EQ(state.settings.security, Security::StartTls);
    // An empty port means the default of the security chosen.
    page.settings.security = Security::Tls;
    page.settings.port.clear();
    page.settings.requireTls = true;
    state.pageChangedBits = changed::kSecurity | changed::kRequireTls;
    Save(page);
    Load();
    EXPECT_EQ(state.settings.security, Security::Tls);
    EXPECT_EQ(state.settings.port, "465");
    EXPECT_TRUE(state.settings.requireTls);
    EXPECT_EQ(ParseSecurity("bogus"), Security::None);

    // A client (raidctl, the service's) turns it off alone, the stored
    // password untouched.
    const PasswordRecord record = state.passwordRecord;
    client::MailSettingsChanges off;
    off.requireTls = false;
    EXPECT_EQ(service::ChangeMailSettings(store.file().string(), off).outcome, client::kDone);
    Load();
    EXPECT_FALSE(state.settings.requireTls);
    EXPECT_EQ(state.settings.host, "mail.example.com");
    EXPECT_EQ(state.passwordRecord, record);
}

TEST_F(MailSettingsTest, AClientsFirstChangeStoresWhatTheFirstOkStoresAndADamagedFileIsRefused) {
    // The page's first OK here, with only these fields filled in ...
    Start();
    MailPageFields page;
    page.settings.host = "mail.example.com";
    page.settings.senderAddress = "raid@example.com";
    page.settings.security = Security::Tls;
    page.events[0].subject = {"Disk lost"};
    Save(page);
    // ... and a client's first change of the same fields, beside it.
    const fs::path first = file.parent_path() / "service.reg";
    client::MailSettingsChanges changes;
    changes.host = "mail.example.com";
    changes.senderAddress = "raid@example.com";
    changes.security = "SSL/TLS";
    changes.subject[0] = "Disk lost";
    const client::Answer stored = service::ChangeMailSettings(first.string(), changes);
    ASSERT_EQ(stored.outcome, client::kDone) << stored.notes.front();
    EXPECT_EQ(ReadFile(first), ReadFile(file));
    EXPECT_EQ(Mode(first), 0600u);
    const client::MailSettingsRecord read = service::ReadMailSettings(first.string()).settings;
    EXPECT_TRUE(read.exists);
    EXPECT_EQ(read.port, "465");
    EXPECT_EQ(read.timeOut, "0");
    EXPECT_EQ(read.password, "empty");
    EXPECT_EQ(read.events[0].subject, "Disk lost");

    // A file that does not parse is not replaced by a client's change.
    Write("damaged");
    const client::Answer refused = service::ChangeMailSettings(file.string(), changes);
    EXPECT_EQ(refused.outcome, client::kFailed);
    ASSERT_EQ(refused.notes.size(), 1u);
    EXPECT_NE(refused.notes[0].find("is damaged"), std::string::npos) << refused.notes[0];
    EXPECT_EQ(ReadFile(file), "damaged");
    EXPECT_FALSE(fs::exists(file.string() + ".damaged"));
}

// A password goes only to the server and account it was given for, from
// the page (whose field holds the stored password unless typed) and from a
// client of the service alike.
TEST_F(MailSettingsTest, ANewHostOrAccountDropsTheStoredPasswordUnlessOneComesWithIt) {
    Start();
    struct Case {
        const char* what;
        std::uint16_t bits;
        std::string host, account, password;  // the page's fields
        std::string stored;                   // the password then
    };
    for (const Case& c : std::vector<Case>{
             {"the same host again", changed::kHost, "mail.example.com", "raid", "s3cret",
              "s3cret"},
             {"another host", changed::kHost, "relay.example.net", "raid", "s3cret", ""},
             {"another account", changed::kAccount, "mail.example.com", "ops", "s3cret", ""},
             {"another host with a password", changed::kHost | changed::kPassword,
              "relay.example.net", "raid", "n3w", "n3w"},
             {"another account, typed again", changed::kAccount | changed::kPassword,
              "mail.example.com", "ops", "s3cret", "s3cret"}}) {
        state.pageChangedBits = changed::kHost | changed::kAccount | changed::kPassword;
        Save(Page());
        Load();
        const PasswordRecord before = state.passwordRecord;
        MailPageFields page = Page();
        page.settings.host = c.host;
        page.settings.account = c.account;
        page.settings.password = c.password;
        state.pageChangedBits = c.bits;
        ASSERT_FALSE(SaveMailSettings(store, state, flags, page)) << c.what;
        EXPECT_EQ(page.settings.password, c.stored.empty() ? "" : c.password) << c.what;
        Load();
        EXPECT_EQ(state.settings.password, c.stored) << c.what;
        EXPECT_EQ(state.authState, kAuthOn) << c.what;
        EXPECT_EQ(state.settings.host, c.host) << c.what;
        if (c.bits == changed::kHost && c.stored == "s3cret") {
            EXPECT_EQ(state.passwordRecord, before) << c.what;
        }
    }

    // Through a client: the same host keeps it, another drops it, another
    // with a password stores that one; the reader sees "empty" or "set".
    const std::string path = file.string();
    client::MailSettingsChanges password;
    password.password = "s3cret";
    ASSERT_EQ(service::ChangeMailSettings(path, password).outcome, client::kDone);
    client::MailSettingsChanges same;
    same.host = "mail.example.com";
    client::MailSettingsChanges other;
    other.host = "relay.example.net";
    client::MailSettingsChanges otherWithPassword = other;
    otherWithPassword.host = "smtp.example.org";
    otherWithPassword.password = "n3w";
    for (const auto& [changes, shown] :
         std::vector<std::pair<client::MailSettingsChanges, std::string>>{
             {same, "set"}, {other, "empty"}, {otherWithPassword, "set"}}) {
        ASSERT_EQ(service::ChangeMailSettings(path, changes).outcome, client::kDone);
        EXPECT_EQ(service::ReadMailSettings(path).settings.password, shown) << *changes.host;
    }
    Load();
    EXPECT_EQ(state.settings.password, "n3w");
}

TEST_F(MailSettingsTest, TemplatesReadWithEitherLineEndAndFromAWindowsCodePage) {
    Start();
    Save(Page());
    // Written on Windows in a Western code page, with LF only.
    WriteFile(SubjectFile(state.templateFolder, 2), "Ger\xE4t entfernt\n");
    WriteFile(BodyFile(state.templateFolder, 2), "one\r\ntwo\nthree");
    Load();
    EXPECT_EQ(state.templates[2].subject, std::vector<std::string>{"Ger\xC3\xA4t entfernt"});
    EXPECT_EQ(state.templates[2].body, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_TRUE(state.templates[3].subject.empty());
    EXPECT_EQ(EventKindCaption(4), "Fan Fail");
    EXPECT_EQ(BodyFile("/x/", 3), fs::path("/x/EmailContens Over Heat.txt"));
}

}  // namespace
}  // namespace raid::mail
