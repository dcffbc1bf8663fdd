// IFileSystem on POSIX calls: open/lseek/read/write/close with 64-bit offsets, close-on-exec,
// interrupted calls retried, every result checked.
#pragma once

#include "platform/io/fileio.h"

class CPosixFile final : public IFile {
public:
    explicit CPosixFile(int fd) : m_nFd(fd) {}
    ~CPosixFile() override;
    CPosixFile(const CPosixFile&) = delete;
    CPosixFile& operator=(const CPosixFile&) = delete;

    int64_t Seek(int64_t distance, SeekOrigin origin) override;
    int64_t Read(void* buffer, size_t count) override;
    int64_t Write(const void* buffer, size_t count) override;
    bool Close() override;

    // The descriptor, or -1 once closed.
    int Descriptor() const { return m_nFd; }

private:
    int m_nFd;
};

class CPosixFileSystem final : public IFileSystem {
public:
    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    std::unique_ptr<IFile> CreateWrite(const std::string& path) override;
    std::unique_ptr<IOutputFile> CreateOutput(const std::string& path, IFile& source,
                                              OutputStatus& status) override;
    bool Exists(const std::string& path) override;
    bool Delete(const std::string& path) override;
    bool IsSameFile(const std::string& first, const std::string& second) override;
    bool IsOpenFile(IFile& file, const std::string& path) override;
    bool ListFolder(const std::string& folder,
                    const std::function<void(const std::string& name)>& visit) override;
    int64_t Size(const std::string& path) override;
    int64_t CopyChunk(IFile& from, IFile& to, int64_t count) override;

private:
    // CopyChunk for positions that do not share pages: through a pipe, without a copy into
    // this process.
    static int64_t SpliceChunk(int sourceFd, int targetFd, size_t count);
};
