// Fault-injecting wrapper for engine tests.
#include "platform/io/faultyfilesystem.h"

#include <algorithm>

namespace {

// The hooks over any kind of file: plain files and outputs share them.
template <typename Interface>
class CFaultyFileOf : public Interface {
public:
    CFaultyFileOf(CFaultyFileSystem& owner, std::unique_ptr<Interface> inner, std::string path)
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

protected:
    CFaultyFileSystem& m_owner;
    std::unique_ptr<Interface> m_inner;
    std::string m_strPath;

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
};

using CFaultyFile = CFaultyFileOf<IFile>;

class CFaultyOutput final : public CFaultyFileOf<IOutputFile> {
public:
    using CFaultyFileOf::CFaultyFileOf;

    // The close fault comes first, so the hook may also change what lies at the final path
    // just before the inner output checks it and renames.
    OutputStatus Commit() override {
        if (m_owner.m_failClose && m_owner.m_failClose(m_strPath)) {
            m_inner->Close();  // discards it
            return OutputStatus::WriteFailed;
        }
        return m_inner->Commit();
    }
    bool IsInPlace() const override { return m_inner->IsInPlace(); }
};

// The file a wrapper of ours stands for, or null for a file that is not ours.
IFile* Unwrap(IFile& file) {
    if (auto* plain = dynamic_cast<CFaultyFile*>(&file)) {
        return &plain->Inner();
    }
    if (auto* output = dynamic_cast<CFaultyOutput*>(&file)) {
        return &output->Inner();
    }
    return nullptr;
}

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

std::unique_ptr<IOutputFile> CFaultyFileSystem::CreateOutput(const std::string& path, IFile& source,
                                                             OutputStatus& status) {
    m_createdForWriting.push_back(path);
    IFile* innerSource = Unwrap(source);
    if (innerSource == nullptr) {
        status = OutputStatus::CannotOpen;
        return nullptr;
    }
    auto inner = m_inner.CreateOutput(path, *innerSource, status);
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<CFaultyOutput>(*this, std::move(inner), path);
}

bool CFaultyFileSystem::IsOpenFile(IFile& file, const std::string& path) {
    IFile* inner = Unwrap(file);
    return inner != nullptr && m_inner.IsOpenFile(*inner, path);
}

int64_t CFaultyFileSystem::CopyChunk(IFile& from, IFile& to, int64_t count) {
    IFile* source = Unwrap(from);
    IFile* target = Unwrap(to);
    if (!m_bAllowCopyChunk || source == nullptr || target == nullptr) {
        return kCopyUnsupported;
    }
    return m_inner.CopyChunk(*source, *target, count);
}
