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

CPsBuilder& CPsBuilder::Pack(int64_t scr, bool mpeg2, uint32_t muxRate, int stuffing) {
    m_offsets.push_back(Size());
    m_bytes.insert(m_bytes.end(), {0x00, 0x00, 0x01, 0xBA});
    if (mpeg2) {
        m_bytes.push_back(
            static_cast<unsigned char>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3)));
        m_bytes.push_back(static_cast<unsigned char>((scr >> 20) & 0xFF));
        m_bytes.push_back(
            static_cast<unsigned char>(((scr >> 15) & 0x1F) << 3 | 0x04 | ((scr >> 13) & 3)));
        m_bytes.push_back(static_cast<unsigned char>((scr >> 5) & 0xFF));
        m_bytes.push_back(static_cast<unsigned char>((scr & 0x1F) << 3 | 0x04));
        m_bytes.push_back(0x01);
        m_bytes.push_back(static_cast<unsigned char>(muxRate >> 14));
        m_bytes.push_back(static_cast<unsigned char>((muxRate >> 6) & 0xFF));
        m_bytes.push_back(static_cast<unsigned char>((muxRate & 0x3F) << 2 | 3));
        m_bytes.push_back(static_cast<unsigned char>(0xF8 | stuffing));
        m_bytes.insert(m_bytes.end(), static_cast<size_t>(stuffing), 0xFF);
    } else {
        Stamp(2, scr);
        m_bytes.push_back(static_cast<unsigned char>(0x80 | (muxRate >> 15)));
        m_bytes.push_back(static_cast<unsigned char>((muxRate >> 7) & 0xFF));
        m_bytes.push_back(static_cast<unsigned char>((muxRate & 0x7F) << 1 | 1));
    }
    return *this;
}

CPsBuilder& CPsBuilder::SystemHeader() {
    m_offsets.push_back(Size());
    m_bytes.insert(m_bytes.end(), {0x00, 0x00, 0x01, 0xBB});
    const Bytes body{0x80, 0x2F, 0xB5, 0x07, 0xE1, 0xFF, 0xE0, 0xE0, 0x80, 0xC0, 0xC0, 0x20};
    Length(body.size());
    m_bytes.insert(m_bytes.end(), body.begin(), body.end());
    return *this;
}

CPsBuilder& CPsBuilder::StreamMap() {
    m_offsets.push_back(Size());
    m_bytes.insert(m_bytes.end(), {0x00, 0x00, 0x01, 0xBC});
    const Bytes body{0xE0, 0xFF, 0, 0, 0, 8, 0x02, 0xE0, 0, 0, 0x03, 0xC0, 0, 0, 0, 0, 0, 0};
    Length(body.size());
    m_bytes.insert(m_bytes.end(), body.begin(), body.end());
    return *this;
}

CPsBuilder& CPsBuilder::Packet(uint8_t id, size_t payload, std::optional<int64_t> pts,
                               std::optional<int64_t> dts, bool mpeg2, uint8_t subStream) {
    m_offsets.push_back(Size());
    Bytes header;
    CPsBuilder stamps;
    if (pts) {
        stamps.Stamp(dts ? 3 : 2, *pts);
        if (dts) {
            stamps.Stamp(1, *dts);
        }
    }
    if (id == 0xBE || id == 0xBF) {
        // Padding and private stream 2 have no header fields.
    } else if (mpeg2) {
        header = {0x80, static_cast<unsigned char>(pts ? (dts ? 0xC0 : 0x80) : 0x00),
                  static_cast<unsigned char>(stamps.m_bytes.size())};
        header.insert(header.end(), stamps.m_bytes.begin(), stamps.m_bytes.end());
    } else {
        header = {0xFF, 0xFF, 0x40 | 0x20, 0x00};
        if (pts) {
            header.insert(header.end(), stamps.m_bytes.begin(), stamps.m_bytes.end());
        } else {
            header.push_back(0x0F);
        }
    }
    m_bytes.insert(m_bytes.end(), {0x00, 0x00, 0x01, id});
    Length(header.size() + payload);
    m_bytes.insert(m_bytes.end(), header.begin(), header.end());
    Bytes body(payload);
    for (size_t i = 0; i < payload; ++i) {
        body[i] = static_cast<unsigned char>(0x10 + (i * 7 + i / 251) % 200);
    }
    if (id >= 0xC0 && id <= 0xDF && payload >= 4) {
        body[0] = 0xFF;
        body[1] = 0xFD;  // MPEG-1 layer II, no CRC
        body[2] = 0x84;  // 128 kbit/s, 48 kHz
        body[3] = 0x00;
    } else if (id == 0xBD && payload >= 1) {
        body[0] = subStream;
    }
    m_bytes.insert(m_bytes.end(), body.begin(), body.end());
    return *this;
}

CPsBuilder& CPsBuilder::Raw(const Bytes& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

CPsBuilder& CPsBuilder::EndCode() {
    m_offsets.push_back(Size());
    m_bytes.insert(m_bytes.end(), {0x00, 0x00, 0x01, 0xB9});
    return *this;
}

void CPsBuilder::Stamp(int prefix, int64_t value) {
    m_bytes.push_back(static_cast<unsigned char>(prefix << 4 | ((value >> 30) & 7) << 1 | 1));
    m_bytes.push_back(static_cast<unsigned char>((value >> 22) & 0xFF));
    m_bytes.push_back(static_cast<unsigned char>(((value >> 15) & 0x7F) << 1 | 1));
    m_bytes.push_back(static_cast<unsigned char>((value >> 7) & 0xFF));
    m_bytes.push_back(static_cast<unsigned char>((value & 0x7F) << 1 | 1));
}

void CPsBuilder::Length(size_t length) {
    m_bytes.push_back(static_cast<unsigned char>(length >> 8));
    m_bytes.push_back(static_cast<unsigned char>(length & 0xFF));
}

void AppendRecording(CPsBuilder& builder, const CRecordingShape& shape) {
    constexpr int64_t kPicture = 3600;
    constexpr int64_t kAudioFrame = 2160;
    const auto end = static_cast<int64_t>(shape.m_dSeconds * 90000);
    int64_t picture = 0;
    int64_t audio = shape.m_bAudio ? 0 : end;
    constexpr size_t kMaxPayload = 65000;
    while (picture < end || audio < end) {
        // Whichever comes first in presentation order goes next.
        const bool video = picture <= audio && picture < end;
        const int64_t time = shape.m_llStart + (video ? picture : audio);
        const std::optional<int64_t> pts =
            shape.m_bStamps ? std::optional<int64_t>(time) : std::nullopt;
        const int64_t scr = (time - shape.m_llPreload) & ((int64_t{1} << 33) - 1);
        builder.Pack(scr);
        if (video) {
            for (size_t left = shape.m_nPictureBytes, first = 1; left > 0; first = 0) {
                const size_t now = std::min(left, kMaxPayload);
                builder.Packet(0xE0, now, first != 0 ? pts : std::nullopt);
                left -= now;
            }
            picture += kPicture;
        } else {
            builder.Packet(0xC0, 384, pts);
            audio += kAudioFrame;
        }
    }
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
