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

#include "mpeg/unitwalker.h"

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
    return Packet(id, body, pts, dts, mpeg2);
}

CPsBuilder& CPsBuilder::Packet(uint8_t id, const Bytes& payload, std::optional<int64_t> pts,
                               std::optional<int64_t> dts, bool mpeg2) {
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
    Length(header.size() + payload.size());
    m_bytes.insert(m_bytes.end(), header.begin(), header.end());
    m_bytes.insert(m_bytes.end(), payload.begin(), payload.end());
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

namespace {

// The video elementary stream with where each picture (access unit) starts and its times.
struct CVideoStream {
    struct CPicture {
        size_t m_nOffset;         // of its first byte (sequence or group header, or AUD)
        size_t m_nPictureOffset;  // of the picture start code (MPEG) or the AUD (H.264)
        int64_t m_llPts;
        int64_t m_llDts;
        int m_nGroup;  // the group it opens, -1 for none
    };
    Bytes m_bytes;
    std::vector<CPicture> m_pictures;
};

void Append(Bytes& bytes, std::initializer_list<unsigned> values) {
    for (const unsigned value : values) {
        bytes.push_back(static_cast<unsigned char>(value));
    }
}

// Bytes that never form a start code, different from picture to picture.
void AppendFiller(Bytes& bytes, size_t count, size_t seed) {
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<unsigned char>(0x11 + (i * 13 + seed * 7) % 230));
    }
}

CVideoStream MakeElementaryStream(const CVideoShape& shape, std::vector<CGroupMark>* groups) {
    CVideoStream stream;
    constexpr int64_t kPicture = 3600;
    const int pictures = static_cast<int>(shape.m_dSeconds * 25);
    const int n = shape.m_nGroupPictures;
    for (int first = 0, g = 0; first < pictures; first += n, ++g) {
        const int count = std::min(n, pictures - first);
        const bool closed = g == 0 || shape.m_bClosedGroups || shape.m_bH264;
        // Display indices with picture types in coded order: I B B P B B ... (open) or
        // I P B B P B B ... (closed).
        std::vector<std::pair<int, unsigned>> order;
        const auto anchors = [&](int from) {
            for (int anchor = from; anchor - 2 < count; anchor += 3) {
                const int p = std::min(anchor, count - 1);
                order.emplace_back(p, 2);
                for (int b = anchor - 2; b < p; ++b) {
                    order.emplace_back(b, 3);
                }
            }
        };
        if (shape.m_bH264) {
            for (int i = 0; i < count; ++i) {
                order.emplace_back(i, i == 0 ? 1 : 2);
            }
        } else if (closed) {
            order.emplace_back(0, 1);
            anchors(3);
        } else {
            order.emplace_back(std::min(2, count - 1), 1);
            for (int b = 0; b < std::min(2, count - 1); ++b) {
                order.emplace_back(b, 3);
            }
            anchors(5);
        }
        const bool headers = g == 0 || shape.m_bGroupHeaders;
        const bool sequence = g == 0 || (shape.m_bSequenceEveryGroup && headers);
        const size_t scale = g % 3 == 2 ? 2 : 1;
        for (size_t c = 0; c < order.size(); ++c) {
            const auto [display, type] = order[c];
            const bool intra = c == 0;
            CVideoStream::CPicture picture{};
            picture.m_nOffset = stream.m_bytes.size();
            picture.m_llPts = shape.m_llStart + (first + display) * kPicture;
            // Decoded one picture ahead of the first shown, in coded order.
            picture.m_llDts = shape.m_llStart + (first + static_cast<int>(c) - 1) * kPicture;
            picture.m_nGroup = intra ? g : -1;
            Bytes& b = stream.m_bytes;
            int64_t flags = -1;
            if (shape.m_bH264) {
                Append(b, {0, 0, 1, 0x09, 0xF0});
                if (intra && sequence) {
                    Append(b,
                           {0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8});
                    Append(b, {0, 0, 1, 0x68, 0xCE, 0x38, 0x80});
                }
                picture.m_nPictureOffset = picture.m_nOffset;
                const EH264Keys keys = shape.m_eH264Keys;
                const bool idr =
                    intra && (keys == EH264Keys::Idr || (g == 0 && keys != EH264Keys::IntraOnly));
                if (intra && !idr && shape.m_eH264Keys == EH264Keys::RecoveryPoint) {
                    // User data (16 bytes of UUID and one more), then the recovery point.
                    Append(b, {0, 0, 1, 0x06, 0x05, 0x11});
                    AppendFiller(b, 17, 3);
                    Append(b, {0x06, 0x01, 0xC4, 0x80});
                }
                // first_mb_in_slice 0, slice_type 7 (all I) or 5 (all P).
                Append(b, {0, 0, 1, idr ? 0x65u : 0x61u, intra ? 0x88u : 0x9Au});
            } else {
                if (intra && sequence) {
                    Append(b, {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x23, 0xFF, 0xFF, 0xE0, 0xA0});
                    if (shape.m_bMpeg2) {
                        Append(b, {0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00});
                    }
                }
                if (intra && headers) {
                    Append(b, {0, 0, 1, 0xB8, 0x00, 0x08, 0x00});
                    flags = static_cast<int64_t>(b.size());
                    b.push_back(closed ? 0x40 : 0x00);
                }
                picture.m_nPictureOffset = b.size();
                const size_t bytes =
                    (intra ? shape.m_nIntraBytes : shape.m_nIntraBytes / 3) * scale;
                // An I frame as a top and a bottom field (picture_structure 1 and 2), or a frame
                // (3).
                const int fields = intra && shape.m_bFieldPictures ? 2 : 1;
                for (int field = 0; field < fields; ++field) {
                    Append(b, {0, 0, 1, 0x00, static_cast<unsigned>(display >> 2),
                               ((static_cast<unsigned>(display) & 3) << 6) | type << 3 | 0x07, 0xFF,
                               0xF8});
                    if (shape.m_bFieldPictures) {
                        const unsigned structure =
                            fields == 2 ? 1u + static_cast<unsigned>(field) : 3u;
                        Append(b, {0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF0 | structure, 0x80});
                    }
                    Append(b, {0, 0, 1, 0x01});
                    AppendFiller(b, bytes / static_cast<size_t>(fields), stream.m_pictures.size());
                }
            }
            if (shape.m_bH264) {
                AppendFiller(b, (intra ? shape.m_nIntraBytes : shape.m_nIntraBytes / 3) * scale,
                             stream.m_pictures.size());
            }
            if (intra && groups != nullptr) {
                CGroupMark mark;
                mark.m_llPictureTime = picture.m_llPts;
                mark.m_bSequence = sequence;
                mark.m_llFlagsOffset = flags;  // an offset in the elementary stream for now
                groups->push_back(mark);
            }
            stream.m_pictures.push_back(picture);
        }
    }
    return stream;
}

}  // namespace

Bytes MakeVideoRecording(const CVideoShape& shape, std::vector<CGroupMark>* groups) {
    std::vector<CGroupMark> marks;
    const CVideoStream video = MakeElementaryStream(shape, &marks);
    CPsBuilder out;
    const bool mpeg2 = shape.m_bMpeg2;
    // The pack clock runs at the mux rate, and never later than the decoder needs the data.
    constexpr int64_t kPreload = 36000;
    const int64_t packTicks =
        static_cast<int64_t>(shape.m_nPackBytes) * 90000 / (int64_t{shape.m_nMuxRate} * 50);
    int64_t scr = shape.m_llStart - kPreload - packTicks;
    int64_t due = shape.m_llStart;
    const auto pack = [&]() {
        scr = std::max(scr + packTicks, due - kPreload);
        out.Pack(scr & ((int64_t{1} << 33) - 1), mpeg2, shape.m_nMuxRate);
    };
    // Fills the pack to its size with a padding packet.
    const auto pad = [&](int64_t packStart) {
        const int64_t used = out.Size() - packStart;
        const int64_t left = static_cast<int64_t>(shape.m_nPackBytes) - used;
        if (left >= 7) {
            out.Packet(0xBE, static_cast<size_t>(left - 6));
        }
    };
    const auto navigation = [&]() {
        const int64_t at = out.Size();
        pack();
        out.SystemHeader();
        out.Packet(0xBF, 980);
        pad(at);
        return at;
    };
    // The first pack: the system header and stream map, or a navigation pack.
    if (!shape.m_bNavigationPacks) {
        const int64_t at = out.Size();
        pack();
        out.SystemHeader().StreamMap();
        pad(at);
    }

    const int64_t audioEnd = static_cast<int64_t>(shape.m_dSeconds * 90000);
    int64_t audio = shape.m_bAudio ? 0 : audioEnd;
    size_t position = 0;
    size_t next = 0;  // the next picture to start
    // Where each byte of the elementary stream went: file offset of its packet's payload start.
    std::vector<std::pair<size_t, int64_t>> payloads;  // (stream offset, file offset)
    std::vector<int64_t> packOf;                       // pack of each payload
    // Packet headers as the builder writes them, with both time stamps and without.
    const size_t headerStamped = mpeg2 ? 9 + 10 : 10 + 10;
    const size_t headerPlain = mpeg2 ? 9 : 10 + 1;
    const size_t packHeader = mpeg2 ? 14 : 12;
    while (position < video.m_bytes.size()) {
        while (next < video.m_pictures.size() && video.m_pictures[next].m_nOffset < position) {
            ++next;
        }
        const int64_t decodeTime = next < video.m_pictures.size() ? video.m_pictures[next].m_llDts
                                                                  : video.m_pictures.back().m_llDts;
        if (audio < audioEnd && shape.m_llStart + audio <= decodeTime) {
            due = shape.m_llStart + audio;
            const int64_t at = out.Size();
            pack();
            out.Packet(0xC0, 384, shape.m_llStart + audio, std::nullopt, mpeg2);
            pad(at);
            audio += 2160;
            continue;
        }
        // A group's navigation pack goes right before the packet where the group begins.
        const bool groupStarts = next < video.m_pictures.size() &&
                                 video.m_pictures[next].m_nGroup >= 0 &&
                                 video.m_pictures[next].m_nOffset == position;
        due = decodeTime;
        if (shape.m_bNavigationPacks && groupStarts) {
            marks[static_cast<size_t>(video.m_pictures[next].m_nGroup)].m_llPack = navigation();
        }
        const int64_t packAt = out.Size();
        pack();
        // With navigation packs a group begins a packet of its own.
        const auto limit = [&](size_t room) {
            size_t take = std::min(room, video.m_bytes.size() - position);
            for (size_t i = next; shape.m_bNavigationPacks && i < video.m_pictures.size(); ++i) {
                const auto& picture = video.m_pictures[i];
                if (picture.m_nOffset >= position + take) {
                    break;
                }
                if (picture.m_nGroup >= 0 && picture.m_nOffset > position) {
                    take = picture.m_nOffset - position;
                    break;
                }
            }
            return take;
        };
        // The first picture that starts in the payload gives the packet its time stamps.
        const auto firstPicture = [&](size_t take) -> const CVideoStream::CPicture* {
            for (size_t i = next > 0 ? next - 1 : 0; i < video.m_pictures.size(); ++i) {
                const size_t at = video.m_pictures[i].m_nPictureOffset;
                if (at >= position + take) {
                    break;
                }
                if (at >= position) {
                    return &video.m_pictures[i];
                }
            }
            return nullptr;
        };
        size_t take = limit(shape.m_nPackBytes - packHeader - headerStamped);
        // A packet that ends two bytes into a group's first start code.
        for (size_t i = next; shape.m_bSplitHeaders && i < video.m_pictures.size(); ++i) {
            const auto& picture = video.m_pictures[i];
            if (picture.m_nOffset + 2 > position + take) {
                break;
            }
            if (picture.m_nGroup >= 0 && picture.m_nOffset + 2 > position) {
                take = picture.m_nOffset + 2 - position;
                break;
            }
        }
        const CVideoStream::CPicture* stamped = firstPicture(take);
        if (stamped == nullptr && !shape.m_bSplitHeaders) {
            const size_t plain = limit(shape.m_nPackBytes - packHeader - headerPlain);
            if (firstPicture(plain) == nullptr) {
                take = plain;
            }
        }
        std::optional<int64_t> pts;
        std::optional<int64_t> dts;
        if (stamped != nullptr) {
            pts = stamped->m_llPts;
            if (stamped->m_llDts != stamped->m_llPts && !shape.m_bH264) {
                dts = stamped->m_llDts;
            }
        }
        const Bytes payload(video.m_bytes.begin() + static_cast<std::ptrdiff_t>(position),
                            video.m_bytes.begin() + static_cast<std::ptrdiff_t>(position + take));
        out.Packet(0xE0, payload, pts, dts, mpeg2);
        payloads.emplace_back(position, out.Size() - static_cast<int64_t>(take));
        packOf.push_back(packAt);
        position += take;
        pad(packAt);
    }
    // Every group's marks in file terms: the pack of its first byte, its flags byte.
    for (size_t g = 0; g < marks.size(); ++g) {
        size_t opens = 0;
        for (const auto& picture : video.m_pictures) {
            if (picture.m_nGroup == static_cast<int>(g)) {
                opens = picture.m_nOffset;
                break;
            }
        }
        const auto locate = [&](size_t offset, int64_t& file, int64_t& packAt) {
            for (size_t i = payloads.size(); i-- > 0;) {
                if (payloads[i].first <= offset) {
                    file = payloads[i].second + static_cast<int64_t>(offset - payloads[i].first);
                    packAt = packOf[i];
                    return;
                }
            }
        };
        int64_t file = 0;
        locate(opens, file, marks[g].m_llHeaderPack);
        if (!shape.m_bNavigationPacks) {
            marks[g].m_llPack = marks[g].m_llHeaderPack;
        }
        if (marks[g].m_llFlagsOffset >= 0) {
            int64_t ignored = 0;
            locate(static_cast<size_t>(marks[g].m_llFlagsOffset), marks[g].m_llFlagsOffset,
                   ignored);
        }
    }
    if (groups != nullptr) {
        *groups = marks;
    }
    return out.Data();
}

CWalked WalkFile(const std::string& path, int64_t begin, int64_t end, bool syncFirst,
                 CUnitWalker::ENoise noise) {
    CWalked walked;
    auto file = PosixFileSystem().OpenRead(path);
    if (!file) {
        return walked;
    }
    CUnitWalker walker(*file);
    walked.m_bRead = walker.Walk(begin, end, syncFirst, noise, [&](const CPsUnit& unit) {
        walked.m_units.push_back(unit);
        return true;
    });
    return walked;
}

std::vector<int64_t> Offsets(const CWalked& walked) {
    std::vector<int64_t> offsets;
    for (const CPsUnit& unit : walked.m_units) {
        offsets.push_back(unit.m_llOffset);
    }
    return offsets;
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

Bytes VideoStreamOf(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    auto file = PosixFileSystem().OpenRead(path);
    const auto size = static_cast<int64_t>(bytes.size());
    CUnitWalker walker(*file, CPackScanner::kMaxWindowBytes, size);
    walker.Start(0, size, false);
    Bytes video;
    CPsUnit unit;
    while (walker.Next(unit)) {
        if (unit.m_kind == EPsUnit::Packet && IsVideoStream(unit.m_nStreamId)) {
            const auto payload = walker.Payload(unit);
            video.insert(video.end(), payload.begin(), payload.end());
        }
    }
    for (size_t i = 0; i + 8 <= video.size(); ++i) {
        if (video[i] == 0 && video[i + 1] == 0 && video[i + 2] == 1 && video[i + 3] == 0xB8) {
            video[i + 7] &= 0xDF;
        }
    }
    return video;
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
