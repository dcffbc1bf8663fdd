// The engine's view of files: 64-bit positions, explicit failures, nothing buffered. An
// interface, so tests can put short reads, failed seeks and failed writes in its way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class SeekOrigin { Begin, Current, End };

// One open file. Not thread-safe: one caller at a time.
class IFile {
public:
    virtual ~IFile() = default;

    // Moves the file position; returns the new position, or -1 when the system refuses.
    virtual int64_t Seek(int64_t distance, SeekOrigin origin) = 0;

    // Reads up to count bytes at the file position. Interrupted and partial reads are retried,
    // so a result below count means the end of the file. Returns the count, or -1 on an error.
    virtual int64_t Read(void* buffer, size_t count) = 0;

    // Writes count bytes at the file position, retrying partial writes. Returns the count
    // written: less than count when the device refused the rest, -1 when it took nothing.
    virtual int64_t Write(const void* buffer, size_t count) = 0;

    // Closes the file. False when the system reports an error, which for an output can mean
    // that data already accepted was lost. A file destroyed without Close is closed silently.
    virtual bool Close() = 0;
};

// Results of IFileSystem::CopyChunk besides a byte count.
inline constexpr int64_t kCopyFailed = -1;
inline constexpr int64_t kCopyUnsupported = -2;

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Opens an existing file for reading, shared with other readers. Null when the file does
    // not exist, cannot be opened, or is a folder.
    virtual std::unique_ptr<IFile> OpenRead(const std::string& path) = 0;

    // Creates a file for writing, truncating an existing one. Null on failure.
    virtual std::unique_ptr<IFile> CreateWrite(const std::string& path) = 0;

    // True when the path can be opened for reading (a folder cannot).
    virtual bool Exists(const std::string& path) = 0;

    // Removes a regular file or a link; anything else (devices, folders) is left alone.
    virtual bool Delete(const std::string& path) = 0;

    // True when both paths exist and name the same file (same device and inode), also through
    // symbolic or hard links.
    virtual bool IsSameFile(const std::string& first, const std::string& second) = 0;

    // Size in bytes, or -1 when the file cannot be examined.
    virtual int64_t Size(const std::string& path) = 0;

    // Moves up to count bytes from the position of `from` to the position of `to` inside the
    // kernel, advancing both. Returns the count moved (0 at the end of `from`), kCopyFailed, or
    // kCopyUnsupported when this pair of files needs plain reads and writes instead; a refused
    // call moves nothing.
    virtual int64_t CopyChunk(IFile& from, IFile& to, int64_t count) = 0;
};

// The real file system. Stateless; lives for the whole process.
IFileSystem& PosixFileSystem();

// The one 64-bit seek routine of the engine: the new position, or -1 for a failed move and,
// at once, for a null file.
int64_t my_lseeki64(IFile* file, int64_t distance, SeekOrigin origin);
