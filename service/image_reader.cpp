#include "service/image_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace raid::service {

struct ImageBudget::Shared {
    ImageLimits limits;
    mutable std::mutex mutex;
    struct Use {
        std::uint64_t bytes = 0;
        int images = 0;
    };
    std::map<uid_t, Use> users;
    Use overall;
};

namespace {

std::string MiB(std::uint64_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MiB"; }

}  // namespace

ImageBudget::Ticket& ImageBudget::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        Release();
        shared_ = std::move(other.shared_);
        uid_ = other.uid_;
        bytes_ = other.bytes_;
        other.shared_.reset();
    }
    return *this;
}

void ImageBudget::Ticket::Release() {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->mutex);
        auto& user = shared_->users[uid_];
        user.bytes -= bytes_;
        --user.images;
        if (user.images == 0) shared_->users.erase(uid_);
        shared_->overall.bytes -= bytes_;
        --shared_->overall.images;
    }
    shared_.reset();
}

ImageBudget::ImageBudget(ImageLimits limits) : shared_(std::make_shared<Shared>()) {
    shared_->limits = limits;
}

std::optional<ImageBudget::Ticket> ImageBudget::Reserve(uid_t uid, std::uint64_t bytes,
                                                        std::string& limit) {
    std::lock_guard lock(shared_->mutex);
    const ImageLimits& l = shared_->limits;
    const auto found = shared_->users.find(uid);
    const Shared::Use user = found == shared_->users.end() ? Shared::Use{} : found->second;
    if (user.images >= l.imagesPerUser)
        limit = std::to_string(l.imagesPerUser) + " images being checked or flashed";
    else if (user.bytes + bytes > l.bytesPerUser)
        limit = MiB(l.bytesPerUser) + " of images being checked or flashed";
    else if (shared_->overall.images >= l.imagesOverall ||
             shared_->overall.bytes + bytes > l.bytesOverall)
        limit = "to wait: the service holds " + MiB(l.bytesOverall) + " of images for all callers";
    else
        limit.clear();
    if (!limit.empty()) return std::nullopt;
    auto& use = shared_->users[uid];
    use.bytes += bytes;
    ++use.images;
    shared_->overall.bytes += bytes;
    ++shared_->overall.images;
    Ticket ticket;
    ticket.shared_ = shared_;
    ticket.uid_ = uid;
    ticket.bytes_ = bytes;
    return ticket;
}

std::optional<std::uint64_t> ImageSize(int fd, std::string& why) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "the image must be a regular file or a memfd";
        return std::nullopt;
    }
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kMaxImageBytes) {
        why = "the image is larger than " + std::to_string(kMaxImageBytes) + " bytes";
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

void ReadImageInBackground(
    int fd, std::uint64_t size,
    std::function<void(std::optional<std::vector<std::uint8_t>>, const std::string&)> done) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return done(std::nullopt, "the image could not be read");
    std::thread([own, size, done = std::move(done)] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        std::size_t at = 0;
        bool ok = true;
        while (ok && at < bytes.size()) {
            const ssize_t n =
                ::pread(own, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) at += static_cast<std::size_t>(n);
        }
        // What was checked is what is flashed: a file that grew is refused.
        std::uint8_t more = 0;
        if (ok) ok = ::pread(own, &more, 1, static_cast<off_t>(at)) == 0;
        ::close(own);
        if (!ok) return done(std::nullopt, "the image could not be read, or changed while it was");
        done(std::move(bytes), std::string());
    }).detach();
}

}  // namespace raid::service
