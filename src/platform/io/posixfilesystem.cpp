// POSIX implementation of the engine's file access.
#include "platform/io/posixfilesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/io/posixoutputfile.h"

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace {

// Opens without blocking on a FIFO and without taking a controlling terminal; restores
// blocking reads afterwards. Folders are refused, as the engine only ever wants files.
int OpenForReading(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A kernel copy refused for this pair of files (other file system, special file, old
// kernel): nothing was moved, and plain reads and writes will do it.
bool IsUnsupportedCopy(int error) {
    switch (error) {
        case EXDEV:
        case EINVAL:
        case ENOSYS:
        case EOPNOTSUPP:
        case ETXTBSY:
        case EPERM:
            return true;
        default:
            return false;
    }
}

// The descriptor behind one of our files, or -1.
int DescriptorOf(IFile& file) {
    if (auto* plain = dynamic_cast<CPosixFile*>(&file)) {
        return plain->Descriptor();
    }
    if (auto* output = dynamic_cast<CPosixOutputFile*>(&file)) {
        return output->Descriptor();
    }
    return -1;
}

}  // namespace

CPosixFile::~CPosixFile() {
    if (m_nFd >= 0) {
        ::close(m_nFd);
    }
}

int64_t CPosixFile::Seek(int64_t distance, SeekOrigin origin) {
    if (m_nFd < 0) {
        return -1;
    }
    int whence = SEEK_SET;
    if (origin == SeekOrigin::Current) {
        whence = SEEK_CUR;
    } else if (origin == SeekOrigin::End) {
        whence = SEEK_END;
    }
    const off_t result = ::lseek(m_nFd, static_cast<off_t>(distance), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

int64_t CPosixFile::Read(void* buffer, size_t count) {
    if (m_nFd < 0) {
        return -1;
    }
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t ask = count - done < SSIZE_MAX ? count - done : SSIZE_MAX;
        const ssize_t got = ::read(m_nFd, bytes + done, ask);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

int64_t CPosixFile::Write(const void* buffer, size_t count) {
    if (m_nFd < 0) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t ask = count - done < SSIZE_MAX ? count - done : SSIZE_MAX;
        const ssize_t put = ::write(m_nFd, bytes + done, ask);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return done == 0 ? -1 : static_cast<int64_t>(done);
        }
        done += static_cast<size_t>(put);
    }
    return static_cast<int64_t>(done);
}

bool CPosixFile::Close() {
    if (m_nFd < 0) {
        return false;
    }
    const int fd = m_nFd;
    m_nFd = -1;
    // Linux releases the descriptor even when close fails, so it is never retried; any error
    // (EIO, ENOSPC, EDQUOT, EINTR) means written data may not have reached the file.
    return ::close(fd) == 0;
}

std::unique_ptr<IFile> CPosixFileSystem::OpenRead(const std::string& path) {
    const int fd = OpenForReading(path);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<CPosixFile>(fd);
}

std::unique_ptr<IFile> CPosixFileSystem::CreateWrite(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<CPosixFile>(fd);
}

std::unique_ptr<IOutputFile> CPosixFileSystem::CreateOutput(const std::string& path, IFile& source,
                                                            OutputStatus& status) {
    const int sourceFd = DescriptorOf(source);
    if (sourceFd < 0) {
        status = OutputStatus::CannotOpen;
        return nullptr;
    }
    return CPosixOutputFile::Create(path, sourceFd, status);
}

bool CPosixFileSystem::Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool CPosixFileSystem::Delete(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return false;
    }
    // Replacing an output must never remove a device node such as /dev/full or a folder.
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

bool CPosixFileSystem::IsSameFile(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) {
        return false;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool CPosixFileSystem::IsOpenFile(IFile& file, const std::string& path) {
    const int fd = DescriptorOf(file);
    struct stat open {};
    struct stat named {};
    if (fd < 0 || ::fstat(fd, &open) != 0 || ::stat(path.c_str(), &named) != 0) {
        return false;
    }
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool CPosixFileSystem::ListFolder(const std::string& folder,
                                  const std::function<void(const std::string& name)>& visit) {
    DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) {
        return false;
    }
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            complete = errno == 0;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            visit(name);
        }
    }
    ::closedir(listing);
    return complete;
}

int64_t CPosixFileSystem::Size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

int64_t CPosixFileSystem::CopyChunk(IFile& from, IFile& to, int64_t count) {
    const int sourceFd = DescriptorOf(from);
    const int targetFd = DescriptorOf(to);
    if (sourceFd < 0 || targetFd < 0) {
        return kCopyUnsupported;
    }
    if (count <= 0) {
        return 0;
    }
    constexpr int64_t kMaxPerCall = int64_t{1} << 30;
    const auto ask = static_cast<size_t>(count < kMaxPerCall ? count : kMaxPerCall);
    // Positions that differ by other than whole pages cannot share pages: the kernel's own
    // copy then slows down by a third, while a pipe still moves the source's pages without a
    // copy into this process.
    const off_t fromAt = ::lseek(sourceFd, 0, SEEK_CUR);
    const off_t toAt = ::lseek(targetFd, 0, SEEK_CUR);
    static const long page = ::sysconf(_SC_PAGESIZE);
    if (fromAt >= 0 && toAt >= 0 && page > 0 && (fromAt - toAt) % page != 0) {
        return SpliceChunk(sourceFd, targetFd, ask);
    }
    for (;;) {
        const ssize_t moved = ::copy_file_range(sourceFd, nullptr, targetFd, nullptr, ask, 0);
        if (moved >= 0) {
            return static_cast<int64_t>(moved);
        }
        if (errno == EINTR) {
            continue;
        }
        return IsUnsupportedCopy(errno) ? kCopyUnsupported : kCopyFailed;
    }
}

int64_t CPosixFileSystem::SpliceChunk(int sourceFd, int targetFd, size_t count) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return kCopyUnsupported;
    }
    // A larger pipe moves more pages a call; the default, 64 KiB, still works.
    constexpr int kPipeBytes = 1 << 20;
    const int pipeBytes = std::max(::fcntl(pipeFds[1], F_SETPIPE_SZ, kPipeBytes), 1 << 16);
    size_t moved = 0;
    int64_t result = 0;
    while (moved < count) {
        const size_t ask = std::min(count - moved, static_cast<size_t>(pipeBytes));
        const ssize_t in = ::splice(sourceFd, nullptr, pipeFds[1], nullptr, ask, SPLICE_F_MOVE);
        if (in < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Nothing moved yet: plain reads and writes can still do it all.
            result = moved == 0 && IsUnsupportedCopy(errno) ? kCopyUnsupported : kCopyFailed;
            break;
        }
        if (in == 0) {
            break;  // the end of the source
        }
        size_t pending = static_cast<size_t>(in);
        while (pending > 0) {
            const ssize_t out =
                ::splice(pipeFds[0], nullptr, targetFd, nullptr, pending, SPLICE_F_MOVE);
            if (out > 0) {
                pending -= static_cast<size_t>(out);
                moved += static_cast<size_t>(out);
            } else if (out < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        if (pending > 0) {
            // An output that takes no splice at all (nothing written yet) is left to plain
            // writes, once the source is put back where this call found it.
            const bool refused = moved == 0 && IsUnsupportedCopy(errno) &&
                                 ::lseek(sourceFd, -static_cast<off_t>(in), SEEK_CUR) >= 0;
            result = refused ? kCopyUnsupported : kCopyFailed;
            break;
        }
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result < 0 ? result : static_cast<int64_t>(moved);
}

IFileSystem& PosixFileSystem() {
    static CPosixFileSystem fileSystem;
    return fileSystem;
}
