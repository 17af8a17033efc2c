#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "eventlog/log_file.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::eventlog {
namespace {

using raid::test_support::ReadFile;
using raid::test_support::WriteFile;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Kind = LogFileWriter::SaveKind;

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/logfile_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Lines Read(const std::string& bytes) {
        WriteFile(dir_ / "in.log", bytes);
        Lines lines{"stale"};
        std::string error;
        EXPECT_TRUE(ReadLogFile(dir_ / "in.log", lines, error)) << error;
        return lines;
    }
    int FileCount() {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
        return n;
    }
    fs::path dir_;
};

TEST_F(LogFileTest, ReadsBothLineEndsAndALastLineWithoutEnd) {
    EXPECT_EQ(Read(""), Lines{});
    EXPECT_EQ(Read("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(Read("a\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(Read("a\r\n\r\n\nb\r"), (Lines{"a", "", "", "b\r"}));
    // Only the CR right before the LF belongs to the line end.
    EXPECT_EQ(Read("a\r\r\n"), (Lines{"a\r"}));
    EXPECT_EQ(Read(std::string("x\0y\n\0", 5)),
              (Lines{std::string("x\0y", 3), std::string(1, '\0')}));
}

TEST_F(LogFileTest, GiganticLinesAreCutAndTheRestStillReads) {
    std::string bytes(3 * kMaxLogLineLength + 17, 'x');
    bytes += "\r\nnext\r\n";
    bytes += std::string(kMaxLogLineLength, 'y') + "\r\n";  // exactly the limit
    const Lines lines = Read(bytes);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(kMaxLogLineLength, 'x'));
    EXPECT_EQ(lines[1], "next");
    EXPECT_EQ(lines[2], std::string(kMaxLogLineLength, 'y'));
}

TEST_F(LogFileTest, UnreadableFilesFailAndLeaveTheLinesAlone) {
    Lines lines{"kept"};
    std::string error;
    EXPECT_FALSE(ReadLogFile(dir_ / "missing.log", lines, error));
    EXPECT_NE(error.find("missing.log"), std::string::npos);
    fs::create_directory(dir_ / "dir.log");
    EXPECT_FALSE(ReadLogFile(dir_ / "dir.log", lines, error));
    EXPECT_EQ(lines, Lines{"kept"});
}

TEST_F(LogFileTest, OnlyRegularFilesOfSaneSizeAreRead) {
    // A FIFO or a device in place of a log file (or chosen in the viewer)
    // must fail at once instead of blocking or reading without end.
    Lines lines{"kept"};
    std::string error;
    ASSERT_EQ(::mkfifo((dir_ / "fifo.log").c_str(), 0600), 0);
    EXPECT_FALSE(ReadLogFile(dir_ / "fifo.log", lines, error));
    EXPECT_NE(error.find("fifo.log"), std::string::npos) << error;
    EXPECT_FALSE(ReadLogFile("/dev/null", lines, error));
    EXPECT_FALSE(ReadLogFile("/dev/zero", lines, error));

    // A file far beyond any day's log is refused rather than loaded whole.
    const fs::path huge = dir_ / "huge.log";
    WriteFile(huge, "");
    fs::resize_file(huge, kMaxLogFileSize + 1);
    error.clear();
    EXPECT_FALSE(ReadLogFile(huge, lines, error));
    EXPECT_NE(error.find("huge.log"), std::string::npos) << error;
    EXPECT_EQ(lines, Lines{"kept"});

    fs::resize_file(huge, 3);
    EXPECT_TRUE(ReadLogFile(huge, lines, error)) << error;
    EXPECT_EQ(lines, Lines{std::string(3, '\0')});
}

TEST_F(LogFileTest, AppendsOnlyWhatIsNewAndMatchesAFullRewrite) {
    const fs::path path = dir_ / "240315.log";
    LogFileWriter writer;
    Lines lines{"one", "two"};
    std::string error;
    ASSERT_TRUE(writer.Save(path, lines, error)) << error;
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);
    EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    ASSERT_TRUE(writer.Save(path, lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Unchanged);

    lines.push_back("three");
    lines.push_back(std::string("f\0ur", 4));
    ASSERT_TRUE(writer.Save(path, lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Appended);

    LogFileWriter fresh;
    ASSERT_TRUE(fresh.Save(dir_ / "full.log", lines, error));
    EXPECT_EQ(ReadFile(path), ReadFile(dir_ / "full.log"));
    EXPECT_EQ(FileCount(), 2);
}

TEST_F(LogFileTest, AnythingButPureGrowthRewrites) {
    const fs::path path = dir_ / "a.log";
    LogFileWriter writer;
    std::string error;
    Lines lines{"one", "two"};
    ASSERT_TRUE(writer.Save(path, lines, error));

    lines[1] = "TWO";  // changed in place
    lines.push_back("three");
    ASSERT_TRUE(writer.Save(path, lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);
    EXPECT_EQ(ReadFile(path), "one\r\nTWO\r\nthree\r\n");

    lines = {"new day"};  // shrank
    ASSERT_TRUE(writer.Save(path, lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);

    lines.push_back("x");
    ASSERT_TRUE(writer.Save(dir_ / "b.log", lines, error));  // another file
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);

    // The file was replaced behind our back (other inode, same size).
    WriteFile(dir_ / "c.tmp", "new day\r\nx\r\n");
    fs::rename(dir_ / "c.tmp", dir_ / "b.log");
    lines.push_back("y");
    ASSERT_TRUE(writer.Save(dir_ / "b.log", lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);

    // Deleted: written afresh.
    fs::remove(dir_ / "b.log");
    lines.push_back("z");
    ASSERT_TRUE(writer.Save(dir_ / "b.log", lines, error));
    EXPECT_EQ(ReadFile(dir_ / "b.log"), "new day\r\nx\r\ny\r\nz\r\n");

    writer.Forget();
    ASSERT_TRUE(writer.Save(dir_ / "b.log", lines, error));
    EXPECT_EQ(writer.lastSaveKind(), Kind::Rewritten);
}

TEST_F(LogFileTest, FailedSavesLeaveTheOldFileAndNoDebris) {
    LogFileWriter writer;
    std::string error;
    // A folder that cannot exist, even for root: its parent is a file.
    WriteFile(dir_ / "plain", "x");
    EXPECT_FALSE(writer.Save(dir_ / "plain" / "a.log", Lines{"l"}, error));
    EXPECT_NE(error.find("a.log"), std::string::npos);
    EXPECT_EQ(writer.lastSaveKind(), Kind::None);

    // The target is a directory: the rename fails, the directory stays.
    fs::create_directory(dir_ / "d.log");
    WriteFile(dir_ / "d.log" / "inside", "keep");
    EXPECT_FALSE(writer.Save(dir_ / "d.log", Lines{"l"}, error));
    EXPECT_EQ(ReadFile(dir_ / "d.log" / "inside"), "keep");
    EXPECT_EQ(FileCount(), 2);  // no temporary file left behind

    // A link put in place of a file written before is neither appended to
    // nor replaced: the monitor writes as root.
    fs::create_directory(dir_ / "logs");
    const fs::path day = dir_ / "logs" / "260101.log";
    ASSERT_TRUE(writer.Save(day, Lines{"one"}, error)) << error;
    fs::remove(day);
    WriteFile(dir_ / "outside", "keep\n");
    fs::create_symlink(dir_ / "outside", day);
    EXPECT_FALSE(writer.Save(day, Lines{"one", "two"}, error));
    EXPECT_EQ(error, "Cannot write log file " + day.string() +
                         ": it is a symbolic link, and links are not followed when writing");
    EXPECT_EQ(ReadFile(dir_ / "outside"), "keep\n");
}

}  // namespace
}  // namespace raid::eventlog
