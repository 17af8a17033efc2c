#pragma once
// Reading a whole firmware, boot-loader or sub-code file into memory, for
// the firmware loader and the image builder alike.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/message.h"

namespace raid::firmware {

// Reads of one offset before a load gives up: a medium that fails three
// times in a row at the same place will not do better on the fourth.
inline constexpr int kFileReadAttempts = 3;

// Where the bytes of a file come from; tests put a failing medium here.
class FileSource {
public:
    virtual ~FileSource() = default;
    // Opens `path` for reading; false when it cannot be opened.
    virtual bool Open(const std::filesystem::path& path) = 0;
    // The open file's length in bytes; none when it cannot be told.
    virtual std::optional<std::uint64_t> Size() = 0;
    // Reads up to out.size() bytes at `offset`; the count read, 0 at the end
    // of the file, none on a read error.
    virtual std::optional<std::size_t> ReadAt(std::uint64_t offset,
                                              std::span<std::uint8_t> out) = 0;
};

// The regular file system, read with pread(2) in blocks.
class PosixFileSource final : public FileSource {
public:
    PosixFileSource() = default;
    ~PosixFileSource() override;
    PosixFileSource(const PosixFileSource&) = delete;
    PosixFileSource& operator=(const PosixFileSource&) = delete;

    bool Open(const std::filesystem::path& path) override;
    std::optional<std::uint64_t> Size() override;
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    int fd_ = -1;
};

struct FileBytesRequest {
    // Files longer than this are refused with `tooLargeText` before any
    // byte is read, so a wrong choice of file cannot fill the memory.
    std::uint64_t maxSize = 0;
    std::string tooLargeText;
    // Caption of the "Error read from Source file. ByteCount = n" warning.
    std::string readErrorCaption;
};

// The whole file, or none. An unopenable file is told with "Fail to open
// firmware file" ("Error"); a read that fails at offset n is told with
// "Error read from Source file. ByteCount = n" and tried again, at most
// kFileReadAttempts times in all, after which the load ends with no bytes.
// A file that ends early (it shrank while being read) is taken as long as
// it turned out to be. Every message goes to `tell`, in order.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(
    FileSource& source, const std::filesystem::path& path, const FileBytesRequest& request,
    const std::function<void(const Message&)>& tell);

}  // namespace raid::firmware
