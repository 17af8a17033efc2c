#include "firmware/dump_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace raid::firmware {
namespace {

constexpr std::size_t kSeriesCharacter = 7;

// Creates `path` only when it does not exist yet; writes all of `bytes`.
bool CreateNew(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool closed = ::close(fd) == 0;
    return done == bytes.size() && closed;
}

}  // namespace

std::optional<std::string> NextDumpName(const std::string& name) {
    if (name.size() <= kSeriesCharacter) return std::nullopt;
    std::string next = name;
    char& c = next[kSeriesCharacter];
    if ((c >= '0' && c <= '8') || (c >= 'A' && c <= 'Y') || (c >= 'a' && c <= 'y'))
        ++c;
    else if (c == '9')
        c = 'A';
    else
        return std::nullopt;
    return next;
}

bool SaveDumpFile(const std::filesystem::path& folder, const std::string& baseName,
                  std::span<const std::uint8_t> bytes, UpgradeHost& host) {
    std::string name = baseName;
    std::filesystem::path path = folder / name;
    std::error_code ec;
    while (std::filesystem::exists(path, ec)) {
        const auto next = NextDumpName(name);
        if (!next) {
            host.SetStatusText("Create File Error" + path.string());
            return false;
        }
        host.Pump();
        name = *next;
        path = folder / name;
    }
    if (!CreateNew(path, bytes)) {
        host.ShowMessage({"Fail to create file", "GetSPIFWInfo:", MessageIcon::Error});
        return false;
    }
    host.SetStatusText("Svae File OK :" + path.string());
    return true;
}

void SaveSmartDumps(const std::filesystem::path& folder, std::span<const std::uint8_t> data,
                    std::span<const std::uint8_t> thresholds, UpgradeHost& host) {
    SaveDumpFile(folder, "dSMART00.bin", data, host);
    SaveDumpFile(folder, "sSMART00.bin", thresholds, host);
}

}  // namespace raid::firmware
