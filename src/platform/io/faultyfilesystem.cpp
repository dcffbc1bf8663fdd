// Fault-injecting wrapper for engine tests.
#include "platform/io/faultyfilesystem.h"

#include <algorithm>

namespace {

class CFaultyFile final : public IFile {
public:
    CFaultyFile(CFaultyFileSystem& owner, std::unique_ptr<IFile> inner, std::string path)
        : m_owner(owner), m_inner(std::move(inner)), m_strPath(std::move(path)) {}

    IFile& Inner() { return *m_inner; }

    int64_t Seek(int64_t distance, SeekOrigin origin) override {
        if (m_owner.m_failSeek && m_owner.m_failSeek(m_strPath, distance, origin)) {
            return -1;
        }
        return m_inner->Seek(distance, origin);
    }

    int64_t Read(void* buffer, size_t count) override {
        const int64_t allowed = Allowed(m_owner.m_limitRead, count);
        if (allowed < 0) {
            return -1;
        }
        return m_inner->Read(buffer, static_cast<size_t>(allowed));
    }

    int64_t Write(const void* buffer, size_t count) override {
        const int64_t allowed = Allowed(m_owner.m_limitWrite, count);
        if (allowed < 0) {
            return -1;
        }
        if (allowed == 0 && count > 0) {
            return -1;
        }
        return m_inner->Write(buffer, static_cast<size_t>(allowed));
    }

    bool Close() override {
        const bool closed = m_inner->Close();
        if (m_owner.m_failClose && m_owner.m_failClose(m_strPath)) {
            return false;
        }
        return closed;
    }

private:
    int64_t Allowed(const CFaultyFileSystem::TransferFault& fault, size_t count) {
        if (!fault) {
            return static_cast<int64_t>(count);
        }
        const int64_t position = m_inner->Seek(0, SeekOrigin::Current);
        const int64_t limit = fault(m_strPath, position, count);
        if (limit < 0) {
            return -1;
        }
        return std::min<int64_t>(limit, static_cast<int64_t>(count));
    }

    CFaultyFileSystem& m_owner;
    std::unique_ptr<IFile> m_inner;
    std::string m_strPath;
};

}  // namespace

std::unique_ptr<IFile> CFaultyFileSystem::OpenRead(const std::string& path) {
    m_openedForReading.push_back(path);
    auto inner = m_inner.OpenRead(path);
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<CFaultyFile>(*this, std::move(inner), path);
}

std::unique_ptr<IFile> CFaultyFileSystem::CreateWrite(const std::string& path) {
    m_createdForWriting.push_back(path);
    auto inner = m_inner.CreateWrite(path);
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<CFaultyFile>(*this, std::move(inner), path);
}

int64_t CFaultyFileSystem::CopyChunk(IFile& from, IFile& to, int64_t count) {
    auto* source = dynamic_cast<CFaultyFile*>(&from);
    auto* target = dynamic_cast<CFaultyFile*>(&to);
    if (!m_bAllowCopyChunk || source == nullptr || target == nullptr) {
        return kCopyUnsupported;
    }
    return m_inner.CopyChunk(source->Inner(), target->Inner(), count);
}
