#pragma once
// Firmware images that callers hand the service as file descriptors: how
// many bytes it holds for them, and their reading off the bus thread.
//
// Any local user may check an image, and a sparse 16 MiB memfd costs its
// sender nothing: without a budget, a few hundred calls would make the root
// service hold gigabytes. A file on a hung network share would stall a read
// for ever: the bus thread never reads one.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace raid::service {

// The largest image accepted: the whole addressable flash of any known chip.
inline constexpr std::uint64_t kMaxImageBytes = 16 * 1024 * 1024;

struct ImageLimits {
    std::uint64_t bytesPerUser = 2 * kMaxImageBytes;
    std::uint64_t bytesOverall = 6 * kMaxImageBytes;
    int imagesPerUser = 4;
    int imagesOverall = 16;
};

// Bytes held for callers' images, per user and in all. Thread-safe.
class ImageBudget {
    struct Shared;

public:
    // A share of the budget, given back when destroyed. Move-only.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept { *this = std::move(other); }
        Ticket& operator=(Ticket&& other) noexcept;
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() { Release(); }
        bool Held() const { return shared_ != nullptr; }

    private:
        friend class ImageBudget;
        void Release();
        std::shared_ptr<Shared> shared_;
        uid_t uid_ = 0;
        std::uint64_t bytes_ = 0;
    };

    explicit ImageBudget(ImageLimits limits = {});
    // A ticket for `bytes` of user `uid`; none, with the limit reached in
    // `limit` ("32 MiB of images being checked"), when over a limit.
    std::optional<Ticket> Reserve(uid_t uid, std::uint64_t bytes, std::string& limit);

private:
    std::shared_ptr<Shared> shared_;
};

// Reads the whole regular file or memfd `fd` (duplicated here; the caller
// keeps its own) of `size` bytes on a thread of its own, then calls `done`
// on that thread with the bytes, or with none and why. A file that is not
// `size` bytes long when read is refused. The thread is detached: a read
// that never returns holds nothing but itself and its share of the budget.
void ReadImageInBackground(
    int fd, std::uint64_t size,
    std::function<void(std::optional<std::vector<std::uint8_t>> bytes, const std::string& why)>
        done);

// Checks `fd` before anything is read: a regular file or memfd of at most
// kMaxImageBytes. Its size, or none with why.
std::optional<std::uint64_t> ImageSize(int fd, std::string& why);

}  // namespace raid::service
