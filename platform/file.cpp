#include "platform/file.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace korvalen {

namespace {

FileOps& SystemOps() noexcept {
    static FileOps ops;
    return ops;
}

FileOps* g_ops = nullptr;

std::atomic<std::size_t> g_held{0};

std::string Describe(const std::string& path, int err, std::string_view op) {
    std::string text(op);
    text += " ";
    text += path;
    text += ": ";
    text += std::strerror(err);
    return text;
}

}  // namespace

FileError::FileError(std::string path, int err, std::string_view op)
    : std::runtime_error(Describe(path, err, op)), path_(std::move(path)), errno_(err) {}

int FileOps::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int FileOps::OpenIn(int folder, const char* path, std::size_t leaf, int flags, mode_t mode) {
    return ::openat(folder, path + leaf, flags, mode);
}
ssize_t FileOps::Read(int fd, void* buf, std::size_t n) {
    return ::read(fd, buf, n);
}
ssize_t FileOps::Write(int fd, const void* buf, std::size_t n) {
    return ::write(fd, buf, n);
}
ssize_t FileOps::ReadAt(int fd, void* buf, std::size_t n, off_t offset) {
    return ::pread(fd, buf, n, offset);
}
int FileOps::Reserve(int fd, off_t offset, off_t n) {
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, n);
}
int FileOps::Close(int fd) {
    return ::close(fd);
}

int FileOps::Access(const char* path, int mode) {
    return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS);
}

FileOps& CurrentFileOps() noexcept {
    return g_ops != nullptr ? *g_ops : SystemOps();
}

ScopedFileOps::ScopedFileOps(FileOps& ops) noexcept : previous_(g_ops) {
    g_ops = &ops;
}
ScopedFileOps::~ScopedFileOps() {
    g_ops = previous_;
}

Descriptor::Descriptor(int fd) noexcept : fd_(fd) {
    if (fd_ >= 0) {
        g_held.fetch_add(1, std::memory_order_relaxed);
    }
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int Descriptor::Release() noexcept {
    if (fd_ >= 0) {
        g_held.fetch_sub(1, std::memory_order_relaxed);
    }
    return std::exchange(fd_, -1);
}

void Descriptor::Reset() noexcept {
    const int fd = Release();
    if (fd >= 0) {
        CurrentFileOps().Close(fd);
    }
}

std::size_t Descriptor::Held() noexcept {
    return g_held.load(std::memory_order_relaxed);
}

std::size_t Descriptor::Budget() noexcept {
    static const std::size_t budget = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
            return std::size_t{2048};
        }
        return static_cast<std::size_t>(std::min<rlim_t>(limit.rlim_cur / 4, 2048));
    }();
    return budget;
}

File::File(const std::string& path, Mode mode) : path_(path) {
    Open(mode, FileSight{});
    if (mode == Mode::Read) {
        CheckRegular();
    }
}

File::File(const std::string& path, const FileSight& sight) : path_(path) {
    Open(Mode::Read, sight);
    if (sight.size >= 0) {
        seenSize_ = sight.size;
    } else {
        CheckRegular();
    }
}

void File::Open(Mode mode, const FileSight& sight) {
    if (mode == Mode::Read && sight.opened != nullptr && sight.opened->Valid()) {
        fd_ = sight.opened->Release();
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read:
            // Non-blocking so that opening a FIFO does not wait for a writer.
            flags |= O_RDONLY | O_NONBLOCK;
            break;
        case Mode::Create:
            // Appending: what another writer adds meanwhile is never overwritten.
            flags |= O_WRONLY | O_CREAT | O_TRUNC | O_APPEND;
            break;
        case Mode::Append:
            // Never O_TRUNC: another run may have created it a moment ago.
            flags |= O_RDWR | O_APPEND | O_CREAT;
            break;
        case Mode::Temporary:
            flags |= O_RDWR | O_TMPFILE | O_EXCL;
            break;
    }
    const mode_t perms = mode == Mode::Temporary ? 0600 : 0666;
    fd_ = sight.folder >= 0 && sight.leaf > 0 && sight.leaf < path_.size()
              ? CurrentFileOps().OpenIn(sight.folder, path_.c_str(), sight.leaf, flags, perms)
              : CurrentFileOps().Open(path_.c_str(), flags, perms);
    if (fd_ < 0 && errno == EACCES && mode == Mode::Append) {
        // A file that may be written but not read: appended to all the same.
        fd_ = CurrentFileOps().Open(path_.c_str(), (flags & ~O_RDWR) | O_WRONLY, perms);
    }
    if (fd_ < 0) {
        throw FileError(path_, errno, "cannot open");
    }
}

void File::CheckRegular() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        CloseQuietly();
        throw FileError(path_, err, "cannot stat");
    }
    if (!S_ISREG(st.st_mode)) {
        CloseQuietly();
        throw FileError(path_, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "not a regular file");
    }
}

File::~File() {
    CloseQuietly();
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      seenSize_(other.seenSize_),
      readSoFar_(other.readSoFar_),
      atSeenEnd_(other.atSeenEnd_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        CloseQuietly();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        seenSize_ = other.seenSize_;
        readSoFar_ = other.readSoFar_;
        atSeenEnd_ = other.atSeenEnd_;
    }
    return *this;
}

void File::CloseQuietly() noexcept {
    if (fd_ >= 0) {
        CurrentFileOps().Close(fd_);
        fd_ = -1;
    }
}

std::size_t File::Read(char* buf, std::size_t n) {
    if (atSeenEnd_) {
        return 0;  // spares the read that would say so
    }
    for (;;) {
        const ssize_t got = CurrentFileOps().Read(fd_, buf, n);
        if (got < 0) {
            if (errno != EINTR) {
                throw FileError(path_, errno, "cannot read");
            }
            continue;
        }
        if (seenSize_ >= 0 && n > 0) {
            readSoFar_ += got;
            if (readSoFar_ > seenSize_ || (got == 0 && readSoFar_ != seenSize_)) {
                // Not the file that was seen: still one, read to its end?
                seenSize_ = -1;
                CheckRegular();
            } else if (static_cast<std::size_t>(got) < n && readSoFar_ == seenSize_) {
                // A regular file reads short only at its end.
                atSeenEnd_ = true;
            }
        }
        return static_cast<std::size_t>(got);
    }
}

std::size_t File::ReadAt(char* buf, std::size_t n, std::int64_t offset) {
    for (;;) {
        const ssize_t got = CurrentFileOps().ReadAt(fd_, buf, n, static_cast<off_t>(offset));
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw FileError(path_, errno, "cannot read");
        }
    }
}

bool WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = CurrentFileOps().Write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {  // no progress and no reason: would loop forever
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

void File::WriteAll(std::string_view data) {
    if (!WriteAllTo(fd_, data)) {
        throw FileError(path_, errno, "cannot write");
    }
}

void File::Close() {
    if (fd_ < 0) {
        return;
    }
    const int fd = std::exchange(fd_, -1);
    // After close the descriptor is gone whatever the result (EINTR included).
    if (CurrentFileOps().Close(fd) != 0) {
        throw FileError(path_, errno, "cannot close");
    }
}

std::int64_t File::Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        throw FileError(path_, errno, "cannot stat");
    }
    return static_cast<std::int64_t>(st.st_size);
}

void File::Reserve(std::size_t n) {
    if (n == 0) {
        return;
    }
    const std::int64_t end = Size();
    const auto more = static_cast<std::int64_t>(n);
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<std::uint64_t>(end + more) > limit.rlim_cur) {
        throw FileError(path_, EFBIG, "cannot write");
    }
    if (CurrentFileOps().Reserve(fd_, end, more) != 0) {
        const int err = errno;
        if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
            throw FileError(path_, err, "cannot write");
        }
        // EOPNOTSUPP and the like: this file system (or device) keeps no room.
    }
}

std::optional<char> File::LastByte() const {
    const std::int64_t size = Size();
    char last = 0;
    if (size <= 0 || CurrentFileOps().ReadAt(fd_, &last, 1, size - 1) != 1) {
        return std::nullopt;
    }
    return last;
}

FileId File::Id() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        throw FileError(path_, errno, "cannot stat");
    }
    return {st.st_dev, st.st_ino};
}

void File::Rewind() {
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        throw FileError(path_, errno, "cannot seek");
    }
    readSoFar_ = 0;
    atSeenEnd_ = false;
}

}  // namespace korvalen
