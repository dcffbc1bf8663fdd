// Outputs that reach their final name only when complete.
#include "platform/io/posixoutputfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int kNameAttempts = 64;
constexpr char kHiddenPrefix[] = ".tarnwick-";
constexpr size_t kHiddenNoise = 10;

// A hidden name for the new file while it waits for the rename; short, so it fits any folder
// in which the final name fits.
std::string HiddenName() {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char noise[kHiddenNoise] = {};
    if (::getrandom(noise, sizeof noise, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof noise)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        auto mix = static_cast<unsigned long long>(now.tv_nsec) ^
                   (static_cast<unsigned long long>(::getpid()) << 32);
        for (unsigned char& byte : noise) {
            byte = static_cast<unsigned char>(mix);
            mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    std::string name = kHiddenPrefix;
    for (unsigned char byte : noise) {
        name += kDigits[byte % (sizeof kDigits - 1)];
    }
    return name;
}

bool SameFile(const struct stat& info, dev_t device, ino_t inode) {
    return info.st_dev == device && info.st_ino == inode;
}

void CloseQuietly(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// The link through which an unnamed file can be given a name without privileges.
std::string DescriptorLink(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

int OpenUnnamed(int folderFd) {
    const int fd = ::openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    // Without /proc the file could never be named: find that out before a byte is written.
    if (::access(DescriptorLink(fd).c_str(), F_OK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsHiddenName(const char* name) {
    const size_t prefix = sizeof kHiddenPrefix - 1;
    if (std::strncmp(name, kHiddenPrefix, prefix) != 0 ||
        std::strlen(name) != prefix + kHiddenNoise) {
        return false;
    }
    for (const char* c = name + prefix; *c != '\0'; ++c) {
        if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))) {
            return false;
        }
    }
    return true;
}

// True while name in the folder still names the file open as fd: a name can be removed by
// someone else between the open and the lock.
bool NameStillNames(int folderFd, const char* name, int fd) {
    struct stat byName {};
    struct stat byFd {};
    return ::fstatat(folderFd, name, &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &byFd) == 0 && SameFile(byName, byFd.st_dev, byFd.st_ino);
}

// Removes the hidden files of killed runs: a file being written is locked by its writer, so
// one that can be locked has nobody behind it. Best effort: a folder that cannot be read is
// left as it is. The source is never removed, whatever its name.
void RemoveAbandoned(int folderFd, const struct stat& source) {
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) {
        return;
    }
    DIR* folder = ::fdopendir(listFd);
    if (folder == nullptr) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(folder)) {
        if (!IsHiddenName(entry->d_name)) {
            continue;
        }
        const int fd = ::openat(folderFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            continue;
        }
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            !SameFile(info, source.st_dev, source.st_ino) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            NameStillNames(folderFd, entry->d_name, fd)) {
            ::unlinkat(folderFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(folder);
}

// A hidden file, locked before it is written. Sets error to the reason of the last failure.
int OpenNamed(int folderFd, std::string& tempName, int& error) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        tempName = HiddenName();
        const int fd =
            ::openat(folderFd, tempName.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        error = errno;
        if (fd >= 0) {
            // A cleanup by another run may have taken the file before the lock: then it has no
            // name any more, and another one is made.
            // Where locks are not supported nobody can remove the file either.
            ::flock(fd, LOCK_EX);
            if (NameStillNames(folderFd, tempName.c_str(), fd)) {
                return fd;
            }
            error = EEXIST;
            ::close(fd);
            continue;
        }
        if (error != EEXIST && error != EINTR) {
            break;
        }
    }
    tempName.clear();
    return -1;
}

// True when the folder refuses new files outright, the one case in which the existing file is
// written in place. Any other failure (no space, no inode, no descriptor) would leave a partial
// file where the old one was.
bool FolderRefusesFiles(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// True when a rename over the existing file would be refused: in a sticky folder only the
// owner of the file or of the folder (or a privileged user) may replace it.
bool RenameRefused(int folderFd, const struct stat& existing) {
    struct stat folder {};
    if (::fstat(folderFd, &folder) != 0 || (folder.st_mode & S_ISVTX) == 0) {
        return false;
    }
    const uid_t self = ::geteuid();
    return self != 0 && existing.st_uid != self && folder.st_uid != self;
}

// The existing file itself, for a folder in which nothing can be created. Opened without
// following a link and without blocking, and only when it is still the regular file that was
// examined and not the source.
int OpenInPlace(int folderFd, const std::string& name, const struct stat& examined,
                dev_t sourceDevice, ino_t sourceInode) {
    const int fd =
        ::openat(folderFd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !SameFile(info, examined.st_dev, examined.st_ino) ||
        SameFile(info, sourceDevice, sourceInode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<CPosixOutputFile> CPosixOutputFile::Create(const std::string& path, int sourceFd,
                                                           OutputStatus& status) {
    status = OutputStatus::CannotOpen;
    struct stat source {};
    if (path.empty() || ::fstat(sourceFd, &source) != 0) {
        return nullptr;
    }
    // Following every link, descriptor links and mounts included.
    struct stat through {};
    const bool reachable = ::stat(path.c_str(), &through) == 0;
    if (reachable && SameFile(through, source.st_dev, source.st_ino)) {
        status = OutputStatus::IsSource;
        return nullptr;
    }

    // The file to replace: the path itself, or the regular file a symbolic link leads to (it
    // is written through the link, as cp does, so the link stays). Anything else is refused.
    std::string target = path;
    struct stat existing {};
    bool exists = false;
    if (::lstat(path.c_str(), &existing) == 0) {
        exists = true;
        if (S_ISLNK(existing.st_mode)) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) {
                return nullptr;  // points nowhere, or in a loop
            }
            target = resolved;
            std::free(resolved);
            // A descriptor link's text need not be a path that names the same file.
            if (!reachable || ::lstat(target.c_str(), &existing) != 0 ||
                !SameFile(existing, through.st_dev, through.st_ino)) {
                return nullptr;
            }
        }
        if (!S_ISREG(existing.st_mode)) {
            return nullptr;
        }
    } else if (errno != ENOENT) {
        return nullptr;
    }

    const size_t slash = target.rfind('/');
    std::string folder = ".";
    if (slash != std::string::npos) {
        folder = slash == 0 ? "/" : target.substr(0, slash);
    }
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return nullptr;
    }
    const int folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        return nullptr;
    }
    // A file the user may not write is not replaced, as when it was opened for writing.
    if (exists && ::faccessat(folderFd, name.c_str(), W_OK, AT_EACCESS) != 0) {
        ::close(folderFd);
        return nullptr;
    }

    std::string tempName;
    Kind kind = Kind::Unnamed;
    int fd = -1;
    if (exists && RenameRefused(folderFd, existing)) {
        kind = Kind::InPlace;
        fd = OpenInPlace(folderFd, name, existing, source.st_dev, source.st_ino);
    } else {
        RemoveAbandoned(folderFd, source);
        fd = OpenUnnamed(folderFd);
        if (fd < 0) {
            kind = Kind::Named;
            int error = 0;
            fd = OpenNamed(folderFd, tempName, error);
            if (fd < 0 && exists && FolderRefusesFiles(error)) {
                kind = Kind::InPlace;
                fd = OpenInPlace(folderFd, name, existing, source.st_dev, source.st_ino);
            }
        }
    }
    if (fd < 0) {
        ::close(folderFd);
        return nullptr;
    }
    // The replacement keeps the permissions of the file it replaces, as a copy onto it would.
    if (exists && kind != Kind::InPlace) {
        ::fchmod(fd, existing.st_mode & 0777);
    }
    // The lock lives as long as the open file description: a second descriptor keeps it from
    // the close that reports write errors to the rename that ends the hidden name.
    int lockFd = -1;
    if (kind != Kind::InPlace) {
        ::flock(fd, LOCK_EX);
        lockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
    status = OutputStatus::Ok;
    return std::unique_ptr<CPosixOutputFile>(
        new CPosixOutputFile(fd, folderFd, lockFd, std::move(name), std::move(tempName), kind,
                             source.st_dev, source.st_ino));
}

CPosixOutputFile::CPosixOutputFile(int fd, int folderFd, int lockFd, std::string name,
                                   std::string tempName, Kind kind, dev_t sourceDevice,
                                   ino_t sourceInode)
    : m_file(fd),
      m_nFolderFd(folderFd),
      m_nLockFd(lockFd),
      m_strName(std::move(name)),
      m_strTemp(std::move(tempName)),
      m_kind(kind),
      m_sourceDevice(sourceDevice),
      m_sourceInode(sourceInode) {}

CPosixOutputFile::~CPosixOutputFile() {
    Discard();
    CloseQuietly(m_nLockFd);
    CloseQuietly(m_nFolderFd);
}

int64_t CPosixOutputFile::Seek(int64_t distance, SeekOrigin origin) {
    return m_file.Seek(distance, origin);
}

int64_t CPosixOutputFile::Read(void* buffer, size_t count) {
    return m_file.Read(buffer, count);
}

int64_t CPosixOutputFile::Write(const void* buffer, size_t count) {
    return m_file.Write(buffer, count);
}

bool CPosixOutputFile::Close() {
    const bool open = !m_bDone && m_file.Descriptor() >= 0;
    Discard();
    return open;
}

void CPosixOutputFile::Discard() {
    if (m_bDone) {
        return;
    }
    m_bDone = true;
    m_file.Close();
    // In place there is no other file to fall back on: what was written stays.
    if (!m_strTemp.empty()) {
        ::unlinkat(m_nFolderFd, m_strTemp.c_str(), 0);
        m_strTemp.clear();
    }
    CloseQuietly(m_nLockFd);
    m_nLockFd = -1;
}

OutputStatus CPosixOutputFile::CheckFinalName() const {
    struct stat info {};
    if (::fstatat(m_nFolderFd, m_strName.c_str(), &info, 0) == 0 &&
        SameFile(info, m_sourceDevice, m_sourceInode)) {
        return OutputStatus::IsSource;
    }
    // A FIFO, device or folder that took the name meanwhile is not replaced.
    if (::fstatat(m_nFolderFd, m_strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode) ? OutputStatus::Ok
                                                              : OutputStatus::CannotOpen;
    }
    return errno == ENOENT ? OutputStatus::Ok : OutputStatus::CannotOpen;
}

OutputStatus CPosixOutputFile::Commit() {
    if (m_bDone || m_file.Descriptor() < 0) {
        return OutputStatus::CannotOpen;
    }
    if (m_kind == Kind::InPlace) {
        m_bDone = true;
        return m_file.Close() ? OutputStatus::Ok : OutputStatus::WriteFailed;
    }
    if (m_kind == Kind::Unnamed) {
        // Named while still open: the descriptor is the only way to reach it.
        const std::string link = DescriptorLink(m_file.Descriptor());
        for (int attempt = 0; attempt < kNameAttempts && m_strTemp.empty(); ++attempt) {
            std::string candidate = HiddenName();
            if (::linkat(AT_FDCWD, link.c_str(), m_nFolderFd, candidate.c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
                m_strTemp = std::move(candidate);
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (m_strTemp.empty()) {
            Discard();
            return OutputStatus::CannotOpen;
        }
    }
    // Data the system accepted can still be lost at close; such a file is not put in place.
    if (!m_file.Close()) {
        Discard();
        return OutputStatus::WriteFailed;
    }
    const OutputStatus check = CheckFinalName();
    if (check != OutputStatus::Ok) {
        Discard();
        return check;
    }
    if (::renameat(m_nFolderFd, m_strTemp.c_str(), m_nFolderFd, m_strName.c_str()) != 0) {
        Discard();
        return OutputStatus::CannotOpen;
    }
    m_strTemp.clear();
    m_bDone = true;
    CloseQuietly(m_nLockFd);
    m_nLockFd = -1;
    return OutputStatus::Ok;
}
