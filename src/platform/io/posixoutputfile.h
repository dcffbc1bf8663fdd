// IOutputFile on POSIX calls: an unnamed file (O_TMPFILE) in the destination folder that Commit
// links in under a hidden name and renames over the final name; a hidden named file where the
// file system has no unnamed files; the existing file itself where no file can be created in
// its folder. A killed process leaves an unnamed file to the kernel to drop; a hidden file is
// locked while written, and a later output into the same folder removes those nobody holds.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/io/fileio.h"
#include "platform/io/posixfilesystem.h"

class CPosixOutputFile final : public IOutputFile {
public:
    // As IFileSystem::CreateOutput, with the source given by its open descriptor. Null with
    // the reason in status when the output cannot be started.
    static std::unique_ptr<CPosixOutputFile> Create(const std::string& path, int sourceFd,
                                                    OutputStatus& status);

    // Removes the new file unless Commit put it in place.
    ~CPosixOutputFile() override;
    CPosixOutputFile(const CPosixOutputFile&) = delete;
    CPosixOutputFile& operator=(const CPosixOutputFile&) = delete;

    int64_t Seek(int64_t distance, SeekOrigin origin) override;
    int64_t Read(void* buffer, size_t count) override;
    int64_t Write(const void* buffer, size_t count) override;
    // Ends the output without putting it in place, as destroying it does.
    bool Close() override;
    OutputStatus Commit() override;
    bool IsInPlace() const override { return m_kind == Kind::InPlace; }

    // The descriptor being written, or -1 once closed.
    int Descriptor() const { return m_file.Descriptor(); }

private:
    enum class Kind { Unnamed, Named, InPlace };

    CPosixOutputFile(int fd, int folderFd, int lockFd, std::string name, std::string tempName,
                     Kind kind, dev_t sourceDevice, ino_t sourceInode);
    // Checks the final name just before the rename: not the source, nothing but a file.
    OutputStatus CheckFinalName() const;
    void Discard();

    CPosixFile m_file;
    int m_nFolderFd;        // the destination folder (O_PATH), so a moved folder is followed
    int m_nLockFd;          // holds the lock on the new file until it has its final name
    std::string m_strName;  // the final file name inside that folder
    std::string m_strTemp;  // the hidden name while the new file has one
    Kind m_kind;
    dev_t m_sourceDevice;
    ino_t m_sourceInode;
    bool m_bDone = false;  // committed or discarded
};
