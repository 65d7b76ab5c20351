// Files on disk through one narrow layer. Every call checks its result and
// throws FileError; every descriptor is closed on every way out. The system
// calls go through FileOps, which tests replace to make open, read, write or
// close fail where a permission bit cannot (tests run as root).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvalen {

class FileError : public std::runtime_error {
  public:
    FileError(std::string path, int err, std::string_view op);
    const std::string& Path() const noexcept { return path_; }
    int Errno() const noexcept { return errno_; }

  private:
    std::string path_;
    int errno_;
};

// The system calls of the file layer, as POSIX defines them (a failure
// returns -1 and sets errno).
class FileOps {
  public:
    virtual ~FileOps() = default;
    virtual int Open(const char* path, int flags, mode_t mode);
    // `path` from `leaf` on, relative to `folder` (open, the folder that the
    // part of `path` before `leaf` names): openat.
    virtual int OpenIn(int folder, const char* path, std::size_t leaf, int flags, mode_t mode);
    virtual ssize_t Read(int fd, void* buf, std::size_t n);
    virtual ssize_t Write(int fd, const void* buf, std::size_t n);
    // pread.
    virtual ssize_t ReadAt(int fd, void* buf, std::size_t n, off_t offset);
    // Disk room for `n` bytes from `offset` on, the file's size unchanged:
    // fallocate with FALLOC_FL_KEEP_SIZE.
    virtual int Reserve(int fd, off_t offset, off_t n);
    virtual int Close(int fd);
    // faccessat with the effective ids.
    virtual int Access(const char* path, int mode);
};

FileOps& CurrentFileOps() noexcept;

// Writes all of `bytes` to `fd` through the file layer, going on after a
// short write or EINTR; false with errno set on failure.
bool WriteAllTo(int fd, std::string_view bytes);

// Routes the file layer through `ops` while alive (tests only).
class ScopedFileOps {
  public:
    explicit ScopedFileOps(FileOps& ops) noexcept;
    ~ScopedFileOps();
    ScopedFileOps(const ScopedFileOps&) = delete;
    ScopedFileOps& operator=(const ScopedFileOps&) = delete;

  private:
    FileOps* previous_;
};

// A descriptor opened by one part for another to read: closed when nobody
// took it. Those held are counted across the process, so that whoever opens
// files ahead of their reading stays well under the descriptor limit.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) noexcept;
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    bool Valid() const noexcept { return fd_ >= 0; }
    int Get() const noexcept { return fd_; }
    // The descriptor, now the caller's to close.
    int Release() noexcept;
    void Reset() noexcept;

    // Descriptors held by these objects now, and how many may be held at
    // once: a quarter of the process's limit, at most 2,048.
    static std::size_t Held() noexcept;
    static std::size_t Budget() noexcept;

  private:
    int fd_ = -1;
};

// Device and inode: the same file under any name.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

// What a reader knows of a file before it opens it; it spares system calls
// per file, which count when the files are many and small.
struct FileSight {
    // The caller has just seen a regular file of this many bytes under the
    // name: the open is not followed by a second look, and a read that ends
    // at that size is the end. Only when the reads disagree with it (a file
    // that grew or shrank, or something else put in its place) is the file
    // checked to be still a regular one, and read on to its real end (a FIFO
    // without a writer put in place of an empty file reads as empty, harmless).
    // Less than 0 tells nothing.
    std::int64_t size = -1;
    // An open descriptor of the folder that holds the file, and where the
    // file's own name starts in its path: the kernel then looks up that name
    // alone. -1: the path is opened whole.
    int folder = -1;
    std::size_t leaf = 0;
    // The file already open (by the folder walk, which took its look from
    // the descriptor): the reader takes it over and leaves this empty, so a
    // second open of the same file goes by name. None or empty: by name.
    Descriptor* opened = nullptr;
};

class File {
  public:
    enum class Mode {
        Read,       // an existing regular file (anything else is refused: a FIFO would block)
        Create,     // created, or emptied when it exists; writes go to the end
        Append,     // created when missing; writes go to the end, existing bytes are
                    // never touched (read back where permissions allow)
        Temporary,  // a new file without a name in the folder `path`, read and written
    };

    File() = default;
    File(const std::string& path, Mode mode);
    // Mode::Read, with what the caller knows of the file (see FileSight).
    File(const std::string& path, const FileSight& sight);
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const noexcept { return fd_ >= 0; }
    const std::string& Path() const noexcept { return path_; }

    // Up to `n` bytes; 0 only at the end of the file.
    std::size_t Read(char* buf, std::size_t n);
    // Up to `n` bytes from `offset` on (the reading position stays); 0 only
    // at or past the end of the file.
    std::size_t ReadAt(char* buf, std::size_t n, std::int64_t offset);
    void WriteAll(std::string_view data);
    // Closes and reports a failed close; a file that is not open is left alone.
    void Close();

    // Makes sure the disk takes `n` more bytes at the end before any of them
    // is written, so that a full disk (or the file-size limit) fails the
    // write whole rather than part of it. Where the file system cannot
    // reserve room, nothing is promised and nothing fails.
    void Reserve(std::size_t n);

    std::int64_t Size() const;
    // The file's last byte; none when it is empty or cannot be read back.
    std::optional<char> LastByte() const;
    FileId Id() const;
    // Reading goes on from the file's start.
    void Rewind();

  private:
    void CloseQuietly() noexcept;
    void Open(Mode mode, const FileSight& sight);
    // Throws unless the open file is a regular one.
    void CheckRegular();

    int fd_ = -1;
    std::string path_;
    std::int64_t seenSize_ = -1;  // none once the reads disagreed with it
    std::int64_t readSoFar_ = 0;
    bool atSeenEnd_ = false;
};

}  // namespace korvalen
