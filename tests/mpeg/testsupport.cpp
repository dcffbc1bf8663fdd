// Engine test fixtures.
#include "testsupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testing_support {

CTempDir::CTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

CommandOutcome RunShellCommand(const std::string& command, const CTempDir& scratch) {
    const std::string outPath = scratch.File("stdout.txt");
    const std::string errPath = scratch.File("stderr.txt");
    const int raw = std::system((command + " </dev/null >" + outPath + " 2>" + errPath).c_str());
    const Bytes out = ReadFile(outPath);
    const Bytes err = ReadFile(errPath);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

int RunInChild(const std::function<int()>& body, unsigned timeoutSeconds, bool asNobody) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        ::alarm(timeoutSeconds);
        constexpr uid_t kNobody = 65534;
        if (asNobody && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(125);
        }
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFSIGNALED(raw)) {
        return 128 + WTERMSIG(raw);
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

void GiveToChild(const std::string& path, mode_t mode) {
    if (RunningAsRoot() && ::lchown(path.c_str(), 65534, 65534) != 0) {
        throw std::runtime_error("cannot give " + path + " away");
    }
    if (::chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot change the mode of " + path);
    }
}

bool SupportsUnnamedFiles(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

Bytes MakeStream(size_t size, const std::vector<int64_t>& packOffsets) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(0x10 + (i * 7 + i / 251) % 200);
    }
    for (int64_t offset : packOffsets) {
        static const unsigned char code[4] = {0x00, 0x00, 0x01, 0xBA};
        for (int j = 0; j < 4; ++j) {
            if (offset + j < static_cast<int64_t>(size)) {
                bytes[static_cast<size_t>(offset + j)] = code[j];
            }
        }
    }
    return bytes;
}

Bytes MakeRegularStream(size_t size, int64_t header, int64_t spacing) {
    std::vector<int64_t> offsets{0};
    for (int64_t at = header; at + 4 <= static_cast<int64_t>(size); at += spacing) {
        offsets.push_back(at);
    }
    return MakeStream(size, offsets);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    }
    return bytes;
}

bool PathExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

int64_t ReferenceBoundary(const Bytes& stream, int64_t position, int64_t header) {
    const auto size = static_cast<int64_t>(stream.size());
    for (int64_t window = position - 2496; window >= 0; window -= 2500) {
        const int64_t delivered = std::clamp<int64_t>(size - window, 0, 2500);
        for (int64_t i = 2496; i >= 0; --i) {
            const int64_t at = window + i;
            if (i + 3 < delivered && stream[at] == 0 && stream[at + 1] == 0 &&
                stream[at + 2] == 1 && stream[at + 3] == 0xBA && (at - header) % 2 == 0) {
                return at;
            }
        }
    }
    return 0;
}

Bytes ReferenceCopy(const Bytes& stream, int64_t start, int64_t end, int64_t header) {
    Bytes out;
    const auto size = static_cast<int64_t>(stream.size());
    if (start != 0) {
        out.insert(out.end(), stream.begin(), stream.begin() + std::min(header, size));
    }
    int64_t filePosition = start;
    for (int64_t pos = start; pos < end; pos += 512) {
        const int64_t got = std::clamp<int64_t>(size - filePosition, 0, 512);
        out.insert(out.end(), stream.begin() + filePosition, stream.begin() + filePosition + got);
        filePosition += got;
    }
    return out;
}

void CRecordingReporter::ShowMessage(const std::string& text, const std::string& caption) {
    m_events.push_back(caption + ": " + text);
}

void CRecordingReporter::ShowAppMessage(const std::string& text) {
    m_events.push_back("App: " + text);
}

bool CRecordingReporter::AskReplace(const std::string& text) {
    m_events.push_back("Ask: " + text);
    return m_bAnswerYes;
}

void CRecordingReporter::BeginWaitCursor() {
    ++m_nWaitDepth;
    m_events.emplace_back("Wait+");
}

void CRecordingReporter::EndWaitCursor() {
    --m_nWaitDepth;
    m_events.emplace_back("Wait-");
}

}  // namespace testing_support
