// A test double over a real IFileSystem that puts scripted faults in the engine's way: short
// or failed reads, failed seeks, short or failed writes, failed closes. Each fault is a hook
// that sees the file's path and position, so a test can hit exactly one call. Outputs are
// seen under their final path; a close fault fails their Commit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/io/fileio.h"

class CFaultyFileSystem final : public IFileSystem {
public:
    // Return true to make the seek fail (the file position is then unchanged).
    using SeekFault = std::function<bool(const std::string& path, int64_t distance, SeekOrigin)>;
    // Return the most bytes this call may transfer at `position`, or -1 to fail it outright;
    // return `count` (or more) to leave the call alone.
    using TransferFault =
        std::function<int64_t(const std::string& path, int64_t position, size_t count)>;
    using CloseFault = std::function<bool(const std::string& path)>;

    explicit CFaultyFileSystem(IFileSystem& inner = PosixFileSystem()) : m_inner(inner) {}

    SeekFault m_failSeek;
    TransferFault m_limitRead;
    TransferFault m_limitWrite;
    CloseFault m_failClose;
    // Kernel copies bypass the read and write hooks, so they are refused unless allowed.
    bool m_bAllowCopyChunk = false;

    // Every path opened or created (outputs by their final path), in order, for tests that
    // check what was touched.
    std::vector<std::string> m_openedForReading;
    std::vector<std::string> m_createdForWriting;

    std::unique_ptr<IFile> OpenRead(const std::string& path) override;
    std::unique_ptr<IFile> CreateWrite(const std::string& path) override;
    std::unique_ptr<IOutputFile> CreateOutput(const std::string& path, IFile& source,
                                              OutputStatus& status) override;
    bool Exists(const std::string& path) override { return m_inner.Exists(path); }
    bool Delete(const std::string& path) override { return m_inner.Delete(path); }
    bool IsSameFile(const std::string& first, const std::string& second) override {
        return m_inner.IsSameFile(first, second);
    }
    bool IsOpenFile(IFile& file, const std::string& path) override;
    bool ListFolder(const std::string& folder,
                    const std::function<void(const std::string& name)>& visit) override {
        return m_inner.ListFolder(folder, visit);
    }
    int64_t Size(const std::string& path) override { return m_inner.Size(path); }
    int64_t CopyChunk(IFile& from, IFile& to, int64_t count) override;

private:
    IFileSystem& m_inner;
};
