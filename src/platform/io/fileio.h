// The engine's view of files: 64-bit positions, explicit failures, nothing buffered. An
// interface, so tests can put short reads, failed seeks and failed writes in its way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// How starting or finishing an output went.
enum class OutputStatus {
    Ok,
    IsSource,    // the output path names the source file (through any link or mount)
    CannotOpen,  // nothing can be written there: not a regular file, no folder, no permission
    WriteFailed  // the system reported an error for data already written (on close)
};

// An output on its way to its final path. Unless the file system has to write in place, it is
// a new file beside the final path that carries no name until Commit, so a failure, a stop or
// even a killed process leaves nothing incomplete under the final name and the old file there
// unchanged. Destroyed without a successful Commit, the new file is removed.
class IOutputFile : public IFile {
public:
    // Closes the file and gives it the final name, replacing what was there. Checks again, just
    // before the rename, that the final path does not name the source and names no more than a
    // regular file. Any result but Ok leaves the old file as it was and removes the new one.
    virtual OutputStatus Commit() = 0;

    // True when the output is written into the existing file itself (truncated when created),
    // because its folder refuses new files or would refuse the rename over it (a sticky folder,
    // the file another user's); a failure then leaves a partial file.
    virtual bool IsInPlace() const = 0;
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

    // Creates a file for writing, truncating an existing one, written in place. Null on
    // failure. Outputs the user keeps go through CreateOutput instead.
    virtual std::unique_ptr<IFile> CreateWrite(const std::string& path) = 0;

    // Starts an output at path for a copy of source (open): a new file in the folder of the
    // final file (through a symbolic link, the regular file it points at) that Commit gives the
    // final name, or, where the folder refuses new files (no permission, read-only) or the
    // rename over the file would be refused, the existing regular file itself, truncated,
    // provided it may be written. Refuses, without opening anything at the path, with IsSource
    // when the path (following every link) names the open source, and with CannotOpen when it
    // names anything but a regular file, nothing can be written, or the new file cannot be
    // made for any other reason (no space, no inode, no descriptor): the old file then stays.
    virtual std::unique_ptr<IOutputFile> CreateOutput(const std::string& path, IFile& source,
                                                      OutputStatus& status) = 0;

    // True when the path names anything at all: a file, a folder, a device, a FIFO, a socket or
    // a symbolic link, even one that points nowhere. Never opens it.
    virtual bool Exists(const std::string& path) = 0;

    // Removes a regular file or a link; anything else (devices, folders) is left alone.
    virtual bool Delete(const std::string& path) = 0;

    // True when both paths exist and name the same file (same device and inode), also through
    // symbolic or hard links.
    virtual bool IsSameFile(const std::string& first, const std::string& second) = 0;

    // True when path, following every link (symbolic links, /proc/self/fd/N, bind mounts),
    // names the file open as `file`: same device and inode.
    virtual bool IsOpenFile(IFile& file, const std::string& path) = 0;

    // Calls visit with the name of every entry of the folder except "." and "..". False when
    // the folder cannot be read; visit may then have seen some names.
    virtual bool ListFolder(const std::string& folder,
                            const std::function<void(const std::string& name)>& visit) = 0;

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
