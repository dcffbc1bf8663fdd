// The clean-cut planner: a forward reader of whole units, a scanner of the video elementary
// stream for the places a piece can start, and the searches over them.
#include "mpeg/cleancut.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

#include "mpeg/messages.h"
#include "mpeg/streamclock.h"

namespace {

// The forward reader's windows: larger than any unit (at most 65,541 bytes); a probe of the
// clock usually needs no more than its first packets.
constexpr int64_t kWindowBytes = int64_t{1} << 20;
constexpr int64_t kProbeWindowBytes = int64_t{128} << 10;
constexpr int64_t kLongestUnit = 6 + 0xFFFF;
// Prepare looks for the video stream and its first sequence header this far, and tells how
// the video is coded from its first bytes.
constexpr int64_t kHeadBytes = int64_t{4} << 20;
constexpr size_t kDetectBytes = 64 * 1024;
// The backward search reads windows that grow from the first size to the last.
constexpr int64_t kFirstBackWindow = int64_t{512} << 10;
constexpr int64_t kLastBackWindow = int64_t{8} << 20;
// Bytes read before a window for the state a place depends on (the pack before it, a header
// split across packets, the latest sequence header).
constexpr int64_t kLookBack = int64_t{256} << 10;
// Bytes read after a window to learn the first picture of a place found near its end.
constexpr int64_t kFinishBytes = int64_t{1} << 20;
// A place whose first picture comes this little after the requested time still counts as at
// it: streams start their audio and video a few milliseconds apart, and times are asked for in
// whole seconds.
constexpr int64_t kTimeTolerance = kClockUnitsPerSecond / 20;
// The binary search stops when its interval is this small.
constexpr int64_t kSearchResolution = int64_t{256} << 10;
// A probe of the clock reads at most this far for a time stamp.
constexpr int64_t kProbeBytes = int64_t{8} << 20;
// Parameters (a sequence header with its extensions, SPS and PPS) longer than this are not
// repeated: no real one comes near it, and they must fit one packet with its header.
constexpr size_t kMaxParameterBytes = 16 * 1024;
// Bytes of a start code and what follows it that the scanner needs at once.
constexpr size_t kCodeBytes = 8;

constexpr uint8_t kPrivateStream2Id = 0xBF;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kGroupHeader = 0xB8;
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kExtensionStart = 0xB5;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kFillerData = 0x0C;  // H.264 NAL unit type 12
// group_of_pictures_header: the byte after the time code's first 24 bits.
constexpr unsigned char kClosedGop = 0x40;
constexpr unsigned char kBrokenLink = 0x20;

bool IsVideoId(uint8_t id) {
    return id >= 0xE0 && id <= 0xEF;
}

bool IsElementary(uint8_t id) {
    return IsVideoId(id) || (id >= 0xC0 && id <= 0xDF) || id == kPrivateStream1Id;
}

uint16_t StreamKey(const CPsUnit& unit) {
    return static_cast<uint16_t>(unit.m_nStreamId << 8 | unit.m_nSubStreamId);
}

// Reads units one after the other, each wholly inside the window, so that a packet's payload
// can be read; noise between units is passed over to the next pack.
class CUnitReader {
public:
    // windowBytes must exceed the longest unit.
    CUnitReader(IFile& file, int64_t size, int64_t windowBytes)
        : m_file(file), m_scanner(file), m_llSize(size), m_llWindowBytes(windowBytes) {}

    // Starts at offset: at the unit there, or with sync at the first pack at or after it.
    bool Start(int64_t offset, bool sync) {
        m_bEnd = offset >= m_llSize;
        if (m_bEnd) {
            return true;
        }
        if (!Read(offset)) {
            return false;
        }
        return !sync || Sync() || !m_bFailed;
    }

    // The next unit; false at the end of the file or when a read failed (Failed).
    bool Next(CPsUnit& unit) {
        m_bGap = false;
        for (;;) {
            if (m_bEnd || m_bFailed) {
                return false;
            }
            const int64_t at = m_scanner.Position();
            if (at >= m_llSize) {
                m_bEnd = true;
                return false;
            }
            if (!m_bWindowAtEnd &&
                static_cast<int64_t>(m_scanner.BytesAvailable(at)) < kLongestUnit) {
                if (!Read(at)) {
                    return false;
                }
                continue;
            }
            if (m_scanner.Next(unit)) {
                return true;
            }
            // Noise, or a unit the end of the file cuts: go on at the next pack.
            m_bGap = true;
            m_scanner.SetPosition(at + 1);
            if (!Sync()) {
                return false;
            }
        }
    }

    // The last Next passed over bytes that are no unit.
    bool Gap() const { return m_bGap; }
    bool Failed() const { return m_bFailed; }
    bool SeekFailed() const { return m_bSeekFailed; }
    const unsigned char* BytesAt(int64_t offset) const { return m_scanner.BytesAt(offset); }
    size_t BytesAvailable(int64_t offset) const { return m_scanner.BytesAvailable(offset); }

private:
    bool Read(int64_t offset) {
        const int64_t ask = std::min(m_llWindowBytes, m_llSize - offset);
        if (my_lseeki64(&m_file, offset, SeekOrigin::Begin) == -1) {
            m_bFailed = m_bSeekFailed = true;
            return false;
        }
        // A window cut short before the end the size promises: the file shrank, or the read
        // failed.
        if (!m_scanner.ReadWindow(offset, ask) ||
            m_scanner.WindowEnd() - m_scanner.WindowOffset() < ask) {
            m_bFailed = true;
            return false;
        }
        m_bWindowAtEnd = m_scanner.WindowEnd() >= m_llSize;
        return true;
    }

    bool Sync() {
        for (;;) {
            if (m_scanner.SyncToPack()) {
                return true;
            }
            if (m_bWindowAtEnd) {
                m_bEnd = true;
                return false;
            }
            // A pack header the window's end cut is found again in the next window.
            if (!Read(std::max(m_scanner.WindowOffset() + 1, m_scanner.WindowEnd() - 64))) {
                return false;
            }
        }
    }

    IFile& m_file;
    CPackScanner m_scanner;
    int64_t m_llSize;
    int64_t m_llWindowBytes;
    bool m_bWindowAtEnd = false;
    bool m_bEnd = false;
    bool m_bGap = false;
    bool m_bFailed = false;
    bool m_bSeekFailed = false;
};

// The first start codes of a video stream's payload tell how it is coded: an MPEG video
// stream begins with a sequence header, an H.264 one with an access unit delimiter or SPS.
ECleanVideo DetectVideo(const unsigned char* payload, size_t length) {
    for (size_t i = 0; i + 4 <= length; ++i) {
        if (payload[i] != 0 || payload[i + 1] != 0 || payload[i + 2] != 1) {
            continue;
        }
        const unsigned char code = payload[i + 3];
        if (code == kSequenceHeader) {
            return ECleanVideo::Mpeg;
        }
        if ((code & 0x80) == 0 && ((code & 0x1F) == 9 || (code & 0x1F) == 7)) {
            return ECleanVideo::H264;
        }
    }
    return ECleanVideo::None;
}

// The pack clock in 27 MHz units (MPEG-1 counts 90 kHz only).
int64_t Clock27(const CPackHeader& pack) {
    return pack.m_llScr * 300 + pack.m_nScrExtension;
}

// Writes a pack clock into the pack header at bytes, keeping every other bit: the start
// code's pattern, the marker bits, the mux rate and the stuffing.
void WritePackClock(unsigned char* bytes, bool mpeg2, int64_t clock27) {
    constexpr int64_t kWrap27 = kClockWrap * 300;
    clock27 = ((clock27 % kWrap27) + kWrap27) % kWrap27;
    const int64_t scr = clock27 / 300;
    unsigned char* b = bytes + 4;
    if (mpeg2) {
        const auto extension = static_cast<unsigned>(clock27 % 300);
        b[0] =
            static_cast<unsigned char>((b[0] & 0xC4) | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3));
        b[1] = static_cast<unsigned char>((scr >> 20) & 0xFF);
        b[2] = static_cast<unsigned char>((b[2] & 0x04) | ((scr >> 15) & 0x1F) << 3 |
                                          ((scr >> 13) & 3));
        b[3] = static_cast<unsigned char>((scr >> 5) & 0xFF);
        b[4] =
            static_cast<unsigned char>((b[4] & 0x04) | (scr & 0x1F) << 3 | ((extension >> 7) & 3));
        b[5] = static_cast<unsigned char>((b[5] & 0x01) | (extension & 0x7F) << 1);
        return;
    }
    b[0] = static_cast<unsigned char>((b[0] & 0xF1) | ((scr >> 30) & 7) << 1);
    b[1] = static_cast<unsigned char>((scr >> 22) & 0xFF);
    b[2] = static_cast<unsigned char>((b[2] & 0x01) | ((scr >> 15) & 0x7F) << 1);
    b[3] = static_cast<unsigned char>((scr >> 7) & 0xFF);
    b[4] = static_cast<unsigned char>((b[4] & 0x01) | (scr & 0x7F) << 1);
}

// A pack header made from a parsed one, without stuffing, for a source whose first pack
// cannot be read.
std::vector<unsigned char> MakePackHeader(const CPackHeader& pack) {
    std::vector<unsigned char> bytes(pack.m_bMpeg2 ? 14 : 12, 0);
    bytes[2] = 0x01;
    bytes[3] = kPackId;
    const uint32_t rate = pack.m_nMuxRate;
    if (pack.m_bMpeg2) {
        bytes[4] = 0x44;
        bytes[6] = bytes[8] = 0x04;
        bytes[9] = 0x01;
        bytes[10] = static_cast<unsigned char>(rate >> 14);
        bytes[11] = static_cast<unsigned char>(rate >> 6);
        bytes[12] = static_cast<unsigned char>((rate & 0x3F) << 2 | 3);
        bytes[13] = 0xF8;
    } else {
        bytes[4] = 0x21;
        bytes[6] = bytes[8] = 0x01;
        bytes[9] = static_cast<unsigned char>(0x80 | rate >> 15);
        bytes[10] = static_cast<unsigned char>(rate >> 7);
        bytes[11] = static_cast<unsigned char>((rate & 0x7F) << 1 | 1);
    }
    WritePackClock(bytes.data(), pack.m_bMpeg2, Clock27(pack));
    return bytes;
}

}  // namespace

// A place a piece can start, as the scanner finds it.
struct CCleanCutPlanner::CEntry {
    int64_t m_llOffset = 0;      // where the piece starts
    int64_t m_llHeaderPack = 0;  // the pack holding the first byte of its header
    CPackHeader m_pack;          // of the pack at m_llOffset
    int64_t m_llHeaderScr = 0;   // the pack clock of the pack holding its header
    std::optional<int64_t> m_time;
    bool m_bTimeKnown = false;  // m_time is settled, known or not
    bool m_bNeedsParameters = false;
    std::vector<unsigned char> m_parameters;
    std::optional<CBytePatch> m_brokenLink;
};

namespace {

// Follows the units of a stretch of the stream and gathers the places a piece can start, in
// file order. Video: its elementary stream's start codes, also those split across packets;
// without video, every pack, timed by the reference stream's first time stamp in it.
class CEntryScanner {
public:
    using CEntry = CCleanCutPlanner::CEntry;

    CEntryScanner(ECleanVideo video, uint8_t videoId, std::optional<uint16_t> reference)
        : m_video(video), m_nVideoId(videoId), m_reference(reference) {}

    void OnUnit(const CPsUnit& unit, const unsigned char* payload, size_t payloadBytes) {
        if (unit.m_kind != EPsUnit::Pack && m_bInPack) {
            m_llPackEnd = unit.m_llOffset + unit.m_llLength;
        }
        switch (unit.m_kind) {
            case EPsUnit::Pack:
                OnPack(unit);
                return;
            case EPsUnit::SystemHeader:
                m_bPackHasNavigation = true;
                return;
            case EPsUnit::StreamMap:
            case EPsUnit::EndCode:
                return;
            case EPsUnit::Packet:
                break;
        }
        if (unit.m_nStreamId == kPrivateStream2Id) {
            m_bPackHasNavigation = true;
        }
        if (!m_bInPack) {
            return;
        }
        if (IsElementary(unit.m_nStreamId)) {
            m_bPackHasMedia = true;
        }
        if (m_video == ECleanVideo::None) {
            if (m_packEntry && !m_packEntry->m_time && unit.m_pts &&
                (!m_reference || StreamKey(unit) == *m_reference)) {
                m_packEntry->m_time = unit.m_pts;
            }
            return;
        }
        if (unit.m_nStreamId != m_nVideoId) {
            return;
        }
        if (unit.m_pts) {
            // A place whose first picture carried no time of its own takes the next one.
            for (CEntry& waiting : m_waiting) {
                if (!waiting.m_bTimeKnown) {
                    waiting.m_time = unit.m_pts;
                    waiting.m_bTimeKnown = true;
                }
            }
            Release();
        }
        CPacketInfo& info = m_packets[++m_nSerial % m_packets.size()];
        info = CPacketInfo{m_llPack, m_llEntryOffset, m_entryPack, m_llPackScr, unit.m_pts, false};
        Scan(payload, payloadBytes, unit.m_llPayloadOffset);
    }

    // The bytes before the next unit were no unit: nothing read so far continues into it.
    void OnGap() {
        m_tail.clear();
        m_pending.reset();
        m_bCapturing = false;
        m_bInPack = false;
        m_bGroupSeen = false;
        m_bSliceInUnit = false;
        m_bUnitOpen = false;
    }

    // The end of the stretch read: places still waiting for a time keep the one they have.
    void Flush() {
        if (m_packEntry) {
            m_entries.push_back(*m_packEntry);
            m_packEntry.reset();
        }
        for (CEntry& waiting : m_waiting) {
            waiting.m_bTimeKnown = true;
        }
        Release();
    }

    // True while a place whose header lies before `before` may still be completed by what
    // follows.
    bool Pending(int64_t before) const {
        return (m_pending && m_pending->m_llHeaderPack < before) ||
               (!m_waiting.empty() && m_waiting.front().m_llHeaderPack < before) ||
               (m_packEntry && m_packEntry->m_llHeaderPack < before) || TailOpensCode(before);
    }

    // Takes the places completed so far.
    std::vector<CEntry> Take() {
        std::vector<CEntry> entries;
        entries.swap(m_entries);
        return entries;
    }

    // The first sequence header (SPS and PPS) the scanner read whole.
    const std::vector<unsigned char>& FirstParameters() const { return m_firstParameters; }

private:
    struct CPacketInfo {
        int64_t m_llPack = 0;
        int64_t m_llEntryOffset = 0;
        CPackHeader m_entryPack;
        int64_t m_llPackScr = 0;
        std::optional<int64_t> m_pts;
        bool m_bUnitStarted = false;  // a picture (access unit) began in the packet already
    };
    struct CTailByte {
        unsigned char m_nValue;
        int64_t m_llOffset;
        uint32_t m_nSerial;
    };
    // A start code with the bytes after it.
    struct CCode {
        std::array<unsigned char, kCodeBytes> m_bytes{};
        std::array<int64_t, kCodeBytes> m_offsets{};
        uint32_t m_nSerial = 0;  // the packet of its first byte
        int64_t m_llIndex = 0;   // its first byte's place in the elementary stream
    };

    void OnPack(const CPsUnit& unit) {
        // A navigation pack right before a pack goes with it: it opens the same unit of a DVD.
        const bool navigation =
            m_bInPack && m_bPackHasNavigation && !m_bPackHasMedia && m_llPackEnd == unit.m_llOffset;
        const int64_t previous = m_llPack;
        const CPackHeader previousHeader = m_packHeader;
        m_bInPack = true;
        m_llPack = unit.m_llOffset;
        m_packHeader = unit.m_pack;
        m_llPackScr = unit.m_pack.m_llScr;
        m_llEntryOffset = navigation ? previous : m_llPack;
        m_entryPack = navigation ? previousHeader : m_packHeader;
        m_bPackHasNavigation = false;
        m_bPackHasMedia = false;
        m_llPackEnd = unit.m_llOffset + unit.m_llLength;
        if (m_video == ECleanVideo::None) {
            if (m_packEntry) {
                m_entries.push_back(*m_packEntry);
            }
            m_packEntry = CEntry{};
            m_packEntry->m_llOffset = m_packEntry->m_llHeaderPack = m_llPack;
            m_packEntry->m_pack = m_packHeader;
            m_packEntry->m_llHeaderScr = m_llPackScr;
            m_packEntry->m_bTimeKnown = true;
        }
    }

    // The last bytes read may begin a start code that the next packet completes: they hold
    // one waiting for the bytes after it, or end in a zero.
    bool TailOpensCode(int64_t before) const {
        const size_t n = m_tail.size();
        if (n == 0 || m_nSerial - m_tail[0].m_nSerial >= m_packets.size() ||
            m_packets[m_tail[0].m_nSerial % m_packets.size()].m_llPack >= before) {
            return false;
        }
        const bool held =
            n >= 3 && m_tail[0].m_nValue == 0 && m_tail[1].m_nValue == 0 && m_tail[2].m_nValue == 1;
        return held || m_tail[n - 1].m_nValue == 0;
    }

    CPacketInfo* Packet(uint32_t serial) {
        if (m_nSerial - serial >= m_packets.size()) {
            return nullptr;
        }
        return &m_packets[serial % m_packets.size()];
    }

    // A picture or access unit begins in the packet: the packet's time stamp is its own when
    // it is the first to begin there.
    std::optional<int64_t> UnitStart(uint32_t serial) {
        CPacketInfo* info = Packet(serial);
        if (info == nullptr) {
            return std::nullopt;
        }
        const bool first = !info->m_bUnitStarted;
        info->m_bUnitStarted = true;
        return first ? info->m_pts : std::nullopt;
    }

    void Begin(uint32_t serial, bool hasParameters) {
        const CPacketInfo* info = Packet(serial);
        if (info == nullptr) {
            return;
        }
        m_pending = CEntry{};
        m_pending->m_llOffset = info->m_llEntryOffset;
        m_pending->m_llHeaderPack = info->m_llPack;
        m_pending->m_pack = info->m_entryPack;
        m_pending->m_llHeaderScr = info->m_llPackScr;
        m_pending->m_bNeedsParameters = !hasParameters;
        if (!hasParameters) {
            m_pending->m_parameters = m_latestParameters;
        }
    }

    void Complete(std::optional<int64_t> time) {
        m_bEntrySeen = true;
        m_pending->m_time = time;
        m_pending->m_bTimeKnown = time.has_value();
        m_waiting.push_back(std::move(*m_pending));
        m_pending.reset();
        Release();
    }

    // Places leave in file order, each once its time is settled.
    void Release() {
        while (!m_waiting.empty() && m_waiting.front().m_bTimeKnown) {
            m_entries.push_back(std::move(m_waiting.front()));
            m_waiting.pop_front();
        }
    }

    // Elementary stream bytes: those of the tail (kept from earlier packets) and then the
    // payload, indexed together.
    void Scan(const unsigned char* payload, size_t length, int64_t offset) {
        const size_t tail = m_tail.size();
        const size_t total = tail + length;
        const int64_t base = m_llStreamBytes - static_cast<int64_t>(tail);
        const auto byteAt = [&](size_t i) {
            return i < tail ? m_tail[i].m_nValue : payload[i - tail];
        };
        const auto codeAt = [&](size_t i) {
            CCode code;
            for (size_t j = 0; j < kCodeBytes; ++j) {
                code.m_bytes[j] = byteAt(i + j);
                code.m_offsets[j] = i + j < tail ? m_tail[i + j].m_llOffset
                                                 : offset + static_cast<int64_t>(i + j - tail);
            }
            code.m_nSerial = i < tail ? m_tail[i].m_nSerial : m_nSerial;
            code.m_llIndex = base + static_cast<int64_t>(i);
            return code;
        };
        size_t keep = total >= 2 ? total - 2 : 0;
        bool held = false;
        // Codes that begin in the tail, then those in the payload, found by their 01 byte.
        for (size_t i = 0; i < tail && i + 3 <= total; ++i) {
            if (byteAt(i) != 0 || byteAt(i + 1) != 0 || byteAt(i + 2) != 1) {
                continue;
            }
            if (i + kCodeBytes > total) {
                keep = i;
                held = true;
                break;
            }
            OnCode(codeAt(i), byteAt);
        }
        for (size_t i = 0; !held && i + 3 <= length;) {
            const auto* one =
                static_cast<const unsigned char*>(std::memchr(payload + i + 2, 1, length - i - 2));
            if (one == nullptr) {
                break;
            }
            const auto at = static_cast<size_t>(one - payload);
            if (payload[at - 1] != 0 || payload[at - 2] != 0) {
                i = at - 1;
                continue;
            }
            if (at - 2 + kCodeBytes > length) {
                keep = tail + at - 2;
                held = true;
                break;
            }
            OnCode(codeAt(tail + at - 2), byteAt);
            i = at + 1;
        }
        m_llStreamBytes += static_cast<int64_t>(length);
        if (m_bCapturing) {
            Capture(m_llStreamBytes, byteAt, base);
        }
        std::vector<CTailByte> next;
        for (size_t i = std::min(keep, total); i < total; ++i) {
            next.push_back(
                {byteAt(i),
                 i < tail ? m_tail[i].m_llOffset : offset + static_cast<int64_t>(i - tail),
                 i < tail ? m_tail[i].m_nSerial : m_nSerial});
        }
        m_tail.swap(next);
    }

    // Appends the captured stream's bytes up to the stream index `until`.
    template <typename ByteAt>
    void Capture(int64_t until, const ByteAt& byteAt, int64_t base) {
        for (int64_t i = m_llCaptured; i < until; ++i) {
            if (m_capture.size() >= kMaxParameterBytes) {
                m_bCaptureTooLong = true;
                break;
            }
            m_capture.push_back(byteAt(static_cast<size_t>(i - base)));
        }
        m_llCaptured = std::max(m_llCaptured, until);
    }

    void StartCapture(const CCode& code, bool pictureSet) {
        m_bCapturing = true;
        m_bCaptureTooLong = false;
        m_bCapturePictureSet = pictureSet;
        m_capture.clear();
        m_llCaptured = code.m_llIndex;
    }

    template <typename ByteAt>
    void EndCapture(const CCode& code, const ByteAt& byteAt, int64_t base) {
        if (!m_bCapturing) {
            return;
        }
        Capture(code.m_llIndex, byteAt, base);
        m_bCapturing = false;
        if (m_bCaptureTooLong) {
            return;
        }
        if (m_video == ECleanVideo::Mpeg) {
            m_latestParameters = m_capture;
        } else if (m_bCapturePictureSet) {
            // PPS: kept with the SPS they follow, a few of them.
            if (m_pictureSets.size() < 4) {
                m_pictureSets.push_back(m_capture);
            }
            m_latestParameters = m_sequenceSet;
            for (const auto& set : m_pictureSets) {
                m_latestParameters.insert(m_latestParameters.end(), set.begin(), set.end());
            }
        } else {
            m_sequenceSet = m_capture;
            m_pictureSets.clear();
            m_latestParameters = m_sequenceSet;
        }
        // The parameters of the stream's first place: with H.264, its SPS and the PPS after it.
        if (!m_bEntrySeen || m_firstParameters.empty()) {
            m_firstParameters = m_latestParameters;
        }
    }

    template <typename ByteAt>
    void OnCode(const CCode& code, const ByteAt& byteAt) {
        const int64_t base = m_llStreamBytes - static_cast<int64_t>(m_tail.size());
        if (m_video == ECleanVideo::Mpeg) {
            OnMpegCode(code, byteAt, base);
        } else {
            OnH264Code(code, byteAt, base);
        }
    }

    template <typename ByteAt>
    void OnMpegCode(const CCode& code, const ByteAt& byteAt, int64_t base) {
        const unsigned char kind = code.m_bytes[3];
        if (kind == kExtensionStart || kind == kUserData) {
            return;  // part of the sequence header being captured, if any
        }
        EndCapture(code, byteAt, base);
        if (kind == kSequenceHeader) {
            StartCapture(code, false);
            if (!m_pending) {
                Begin(code.m_nSerial, true);
            }
        } else if (kind == kGroupHeader) {
            if (!m_pending) {
                Begin(code.m_nSerial, false);
            }
            if (m_pending && !m_pending->m_brokenLink && !m_bGroupSeen) {
                const unsigned char flags = code.m_bytes[7];
                if ((flags & kClosedGop) == 0 && (flags & kBrokenLink) == 0) {
                    m_pending->m_brokenLink = CBytePatch{
                        code.m_offsets[7], static_cast<unsigned char>(flags | kBrokenLink)};
                }
            }
            m_bGroupSeen = true;
        } else if (kind == kPictureStart) {
            const std::optional<int64_t> time = UnitStart(code.m_nSerial);
            m_bGroupSeen = false;
            if (m_pending) {
                const int type = (code.m_bytes[5] >> 3) & 7;
                if (type == 1) {
                    Complete(time);
                } else {
                    m_pending.reset();  // no I picture: nothing decodes from here
                }
            }
        }
    }

    template <typename ByteAt>
    void OnH264Code(const CCode& code, const ByteAt& byteAt, int64_t base) {
        const unsigned char header = code.m_bytes[3];
        if ((header & 0x80) != 0) {
            return;  // not a NAL unit
        }
        const int type = header & 0x1F;
        const bool slice = type == 1 || type == 5;
        const bool startsUnit = type == 9 ||
                                (m_bSliceInUnit && (type == 6 || type == 7 || type == 8 ||
                                                    (type >= 14 && type <= 18))) ||
                                (m_bSliceInUnit && slice && (code.m_bytes[4] & 0x80) != 0);
        EndCapture(code, byteAt, base);
        if (startsUnit || !m_bUnitOpen) {
            m_bUnitOpen = true;
            m_bSliceInUnit = false;
            m_bUnitHasSps = false;
            m_nUnitSerial = code.m_nSerial;
            m_unitTime = UnitStart(code.m_nSerial);
        }
        if (type == 7) {
            m_bUnitHasSps = true;
            StartCapture(code, false);
        } else if (type == 8) {
            StartCapture(code, true);
        } else if (slice) {
            if (!m_bSliceInUnit && type == 5) {
                Begin(m_nUnitSerial, m_bUnitHasSps);
                if (m_pending) {
                    Complete(m_unitTime);
                }
            }
            m_bSliceInUnit = true;
        }
    }

    ECleanVideo m_video;
    uint8_t m_nVideoId;
    std::optional<uint16_t> m_reference;

    // The pack being read.
    bool m_bInPack = false;
    int64_t m_llPack = 0;
    int64_t m_llPackEnd = 0;
    CPackHeader m_packHeader;
    int64_t m_llPackScr = 0;
    int64_t m_llEntryOffset = 0;
    CPackHeader m_entryPack;
    bool m_bPackHasNavigation = false;
    bool m_bPackHasMedia = false;
    std::optional<CEntry> m_packEntry;  // without video

    // The video stream.
    std::array<CPacketInfo, 32> m_packets{};
    uint32_t m_nSerial = 0;
    std::vector<CTailByte> m_tail;
    int64_t m_llStreamBytes = 0;
    bool m_bGroupSeen = false;
    bool m_bUnitOpen = false;
    bool m_bSliceInUnit = false;
    bool m_bUnitHasSps = false;
    uint32_t m_nUnitSerial = 0;
    std::optional<int64_t> m_unitTime;

    // Sequence headers (SPS, PPS) as they pass.
    bool m_bCapturing = false;
    bool m_bCaptureTooLong = false;
    bool m_bCapturePictureSet = false;
    int64_t m_llCaptured = 0;
    std::vector<unsigned char> m_capture;
    std::vector<unsigned char> m_sequenceSet;
    std::vector<std::vector<unsigned char>> m_pictureSets;
    std::vector<unsigned char> m_latestParameters;
    std::vector<unsigned char> m_firstParameters;
    bool m_bEntrySeen = false;

    std::optional<CEntry> m_pending;
    std::deque<CEntry> m_waiting;
    std::vector<CEntry> m_entries;
};

// Hands the scanner the unit the reader has just read, with what the reader holds of its
// payload, after telling it of a gap before the unit.
void Feed(CEntryScanner& scanner, const CUnitReader& reader, const CPsUnit& unit) {
    if (reader.Gap()) {
        scanner.OnGap();
    }
    const unsigned char* payload =
        unit.m_kind == EPsUnit::Packet ? reader.BytesAt(unit.m_llPayloadOffset) : nullptr;
    const size_t length =
        payload == nullptr
            ? 0
            : std::min<size_t>(reader.BytesAvailable(unit.m_llPayloadOffset),
                               static_cast<size_t>(std::max<int64_t>(unit.m_llPayloadLength, 0)));
    scanner.OnUnit(unit, payload, length);
}

}  // namespace

bool CCleanCutPlanner::ReportRead(bool seekFailed) {
    m_reporter.ShowMessage(seekFailed ? mpeg_text::kBoundarySeekWrong : mpeg_text::kCanNotReadHead,
                           mpeg_text::kCaptionError);
    return false;
}

bool CCleanCutPlanner::Prepare() {
    // The first pack with the system headers and stream maps right after it; the video
    // stream, the first whose payload tells how it is coded; the stream that times the packs
    // of a stream without video.
    CUnitReader reader(m_file, m_llSize, kWindowBytes);
    if (!reader.Start(0, false)) {
        return ReportRead(reader.SeekFailed());
    }
    int64_t prefixEnd = 0;
    bool inPrefix = true;
    std::optional<uint16_t> anyStamped;
    std::vector<unsigned char> videoHead;
    CPsUnit unit;
    while (reader.Next(unit) && unit.m_llOffset < kHeadBytes) {
        if (inPrefix) {
            // Only units the file holds whole.
            const bool whole = unit.m_llOffset + unit.m_llLength <= m_llSize;
            const bool opens = whole && unit.m_llOffset == 0 && unit.m_kind == EPsUnit::Pack;
            const bool follows =
                whole && m_prefixPack && !reader.Gap() && unit.m_llOffset == prefixEnd &&
                (unit.m_kind == EPsUnit::SystemHeader || unit.m_kind == EPsUnit::StreamMap);
            if (opens) {
                m_prefixPack = unit.m_pack;
            }
            inPrefix = opens || follows;
            if (inPrefix) {
                prefixEnd = unit.m_llOffset + unit.m_llLength;
            }
        }
        if (unit.m_kind != EPsUnit::Packet) {
            continue;
        }
        const unsigned char* payload = reader.BytesAt(unit.m_llPayloadOffset);
        const size_t length =
            payload == nullptr
                ? 0
                : std::min<size_t>(
                      reader.BytesAvailable(unit.m_llPayloadOffset),
                      static_cast<size_t>(std::max<int64_t>(unit.m_llPayloadLength, 0)));
        // The first video stream's first bytes, gathered across its packets: a start code may
        // lie across two of them.
        if (m_video == ECleanVideo::None && IsVideoId(unit.m_nStreamId) &&
            (videoHead.empty() || unit.m_nStreamId == m_nVideoId) &&
            videoHead.size() < kDetectBytes) {
            m_nVideoId = unit.m_nStreamId;
            videoHead.insert(videoHead.end(), payload,
                             payload + std::min(length, kDetectBytes - videoHead.size()));
            m_video = DetectVideo(videoHead.data(), videoHead.size());
        }
        const bool subpicture = unit.m_nStreamId == kPrivateStream1Id &&
                                unit.m_nSubStreamId >= 0x20 && unit.m_nSubStreamId <= 0x3F;
        if (unit.m_pts && IsElementary(unit.m_nStreamId) && !subpicture) {
            if (!anyStamped) {
                anyStamped = StreamKey(unit);
            }
            if (!m_reference && !IsVideoId(unit.m_nStreamId)) {
                m_reference = StreamKey(unit);
            }
        }
        if (m_video != ECleanVideo::None && m_reference) {
            break;
        }
    }
    if (reader.Failed()) {
        return ReportRead(reader.SeekFailed());
    }
    if (!m_reference) {
        m_reference = anyStamped;
    }
    if (m_prefixPack) {
        m_prefix.resize(static_cast<size_t>(prefixEnd));
        if (my_lseeki64(&m_file, 0, SeekOrigin::Begin) == -1) {
            return ReportRead(true);
        }
        if (m_file.Read(m_prefix.data(), m_prefix.size()) !=
            static_cast<int64_t>(m_prefix.size())) {
            return ReportRead(false);
        }
    }
    if (m_video == ECleanVideo::None) {
        return true;
    }
    // The stream's first sequence header (SPS and PPS), for pieces that start without one.
    CUnitReader head(m_file, m_llSize, kWindowBytes);
    if (!head.Start(0, false)) {
        return ReportRead(head.SeekFailed());
    }
    CEntryScanner scanner(m_video, m_nVideoId, m_reference);
    while (head.Next(unit) && unit.m_llOffset < kHeadBytes) {
        Feed(scanner, head, unit);
        if (!scanner.Take().empty() && !scanner.FirstParameters().empty()) {
            break;
        }
    }
    if (head.Failed()) {
        return ReportRead(head.SeekFailed());
    }
    m_firstParameters = scanner.FirstParameters();
    return true;
}

bool CCleanCutPlanner::ProbeTime(int64_t offset, std::optional<CProbe>& probe) {
    probe.reset();
    CUnitReader reader(m_file, m_llSize, kProbeWindowBytes);
    if (!reader.Start(offset, offset > 0)) {
        return ReportRead(reader.SeekFailed());
    }
    const std::optional<uint16_t> key =
        m_video != ECleanVideo::None ? std::optional<uint16_t>(m_nVideoId << 8) : m_reference;
    CPsUnit unit;
    while (reader.Next(unit) && unit.m_llOffset < offset + kProbeBytes) {
        if (m_bPackClock) {
            if (unit.m_kind == EPsUnit::Pack) {
                probe = CProbe{unit.m_pack.m_llScr, unit.m_llOffset};
                return true;
            }
        } else if (unit.m_kind == EPsUnit::Packet && unit.m_pts && key && StreamKey(unit) == *key) {
            // Decoding times run forward with the file where presentation times do not.
            probe = CProbe{unit.m_dts.value_or(*unit.m_pts), unit.m_llOffset};
            return true;
        }
    }
    return !reader.Failed() || ReportRead(reader.SeekFailed());
}

bool CCleanCutPlanner::AtTime(int64_t seconds, int64_t fallbackOffset, CCleanCut& cut) {
    if (!m_bClockMeasured) {
        m_bClockMeasured = true;
        if (const auto clock = CStreamClock::Measure(m_file, m_llSize)) {
            m_llStartClock = clock->m_llStartClock;
            m_bPackClock = clock->m_source == EClockSource::PackClock;
        }
    }
    if (!m_llStartClock) {
        return AtOffset(fallbackOffset, cut);
    }
    const int64_t start = *m_llStartClock;
    const int64_t target = seconds * kClockUnitsPerSecond + kTimeTolerance;
    // The clock runs forward with the file: after `high` every time lies beyond the target.
    int64_t low = 0;
    int64_t high = m_llSize;
    int64_t highStamp = m_llSize;
    while (high - low > kSearchResolution) {
        const int64_t middle = low + (high - low) / 2;
        std::optional<CProbe> probe;
        if (!ProbeTime(middle, probe)) {
            return false;
        }
        if (probe && ClockDifference(probe->m_llTime, start) <= target) {
            low = middle;
        } else {
            high = middle;
            highStamp = probe ? probe->m_llOffset : middle;
        }
    }
    const int64_t end = std::min(m_llSize, std::max(high, highStamp) + 1);
    const bool packClock = m_bPackClock;
    return Find(
        end,
        [start, target, packClock](const CEntry& entry) {
            const std::optional<int64_t> time =
                packClock ? std::optional<int64_t>(entry.m_llHeaderScr) : entry.m_time;
            return time && ClockDifference(*time, start) <= target;
        },
        cut);
}

bool CCleanCutPlanner::AtOffset(int64_t position, CCleanCut& cut) {
    const int64_t end = std::clamp<int64_t>(position, -1, m_llSize - 1) + 1;
    return Find(
        end, [](const CEntry&) { return true; }, cut);
}

bool CCleanCutPlanner::Find(int64_t end, const std::function<bool(const CEntry&)>& accept,
                            CCleanCut& cut) {
    cut = CCleanCut{};
    int64_t width = kFirstBackWindow;
    for (int64_t windowEnd = end; windowEnd > 0;) {
        const int64_t begin = std::max<int64_t>(0, windowEnd - width);
        std::optional<CEntry> best;
        bool bestIsFirst = false;
        if (!ScanWindow(begin, windowEnd, accept, best, bestIsFirst)) {
            return false;
        }
        if (best) {
            // The stream's first place is where its first piece starts anyway: the file's start.
            if (!bestIsFirst) {
                cut.m_llOffset = best->m_llOffset;
                cut.m_pack = best->m_pack;
                cut.m_llTime =
                    m_bPackClock ? std::optional<int64_t>(best->m_llHeaderScr) : best->m_time;
                if (best->m_bNeedsParameters) {
                    cut.m_parameters =
                        best->m_parameters.empty() ? m_firstParameters : best->m_parameters;
                }
                cut.m_brokenLink = best->m_brokenLink;
            }
            return true;
        }
        windowEnd = begin;
        width = std::min(width * 2, kLastBackWindow);
    }
    return true;
}

bool CCleanCutPlanner::ScanWindow(int64_t begin, int64_t end,
                                  const std::function<bool(const CEntry&)>& accept,
                                  std::optional<CEntry>& best, bool& bestIsFirst) {
    const int64_t from = std::max<int64_t>(0, begin - kLookBack);
    CUnitReader reader(m_file, m_llSize, kWindowBytes);
    if (!reader.Start(from, from > 0)) {
        return ReportRead(reader.SeekFailed());
    }
    CEntryScanner scanner(m_video, m_nVideoId, m_reference);
    bool seenOne = false;
    const auto consider = [&](std::vector<CEntry> entries) {
        for (CEntry& entry : entries) {
            const bool first = from == 0 && !seenOne;
            seenOne = true;
            if (entry.m_llHeaderPack >= begin && entry.m_llHeaderPack < end && accept(entry)) {
                best = std::move(entry);
                bestIsFirst = first;
            }
        }
    };
    CPsUnit unit;
    while (reader.Next(unit)) {
        // The packets of a pack that starts before the end belong to the window.
        if (unit.m_llOffset >= end + kFinishBytes ||
            (unit.m_kind == EPsUnit::Pack && unit.m_llOffset >= end && !scanner.Pending(end))) {
            break;
        }
        Feed(scanner, reader, unit);
        consider(scanner.Take());
    }
    if (reader.Failed()) {
        return ReportRead(reader.SeekFailed());
    }
    scanner.Flush();
    consider(scanner.Take());
    return true;
}

CExactCopy CCleanCutPlanner::Layout(const CCleanCut& from, int64_t end) const {
    CExactCopy copy;
    copy.m_llStart = from.m_llOffset;
    copy.m_llEnd = end;
    if (from.m_llOffset == 0) {
        return copy;
    }
    const CPackHeader& header = m_prefixPack ? *m_prefixPack : from.m_pack;
    std::vector<unsigned char> prefix = m_prefixPack ? m_prefix : MakePackHeader(from.m_pack);
    if (const auto& parameters = from.m_parameters; !parameters.empty()) {
        // A packet of the video stream that carries them, without time stamps. The piece's
        // first video packet may begin with the end of the previous picture: a start code of
        // user data (H.264: filler data) after them turns those bytes into something every
        // decoder passes over, and keeps the parameters whole.
        const std::vector<unsigned char> fields = header.m_bMpeg2
                                                      ? std::vector<unsigned char>{0x84, 0x00, 0x00}
                                                      : std::vector<unsigned char>{0x0F};
        const unsigned char absorber[] = {0x00, 0x00, 0x01,
                                          m_video == ECleanVideo::H264 ? kFillerData : kUserData};
        const size_t length = fields.size() + parameters.size() + sizeof absorber;
        const unsigned char start[] = {0x00,
                                       0x00,
                                       0x01,
                                       m_nVideoId,
                                       static_cast<unsigned char>(length >> 8),
                                       static_cast<unsigned char>(length & 0xFF)};
        prefix.insert(prefix.end(), std::begin(start), std::end(start));
        prefix.insert(prefix.end(), fields.begin(), fields.end());
        prefix.insert(prefix.end(), parameters.begin(), parameters.end());
        prefix.insert(prefix.end(), std::begin(absorber), std::end(absorber));
    }
    // The prefix's bytes arrive at its mux rate and end just before the first copied pack's:
    // its clock lies that long before, and at least one tick.
    constexpr int64_t kTick27 = 300;
    const uint32_t rate = header.m_nMuxRate != 0 ? header.m_nMuxRate : from.m_pack.m_nMuxRate;
    int64_t lead = kTick27;
    if (rate != 0) {
        const int64_t bytesPerSecond = int64_t{rate} * 50;
        const int64_t ticks = static_cast<int64_t>(prefix.size()) * 27'000'000;
        lead = std::max(lead, (ticks + bytesPerSecond - 1) / bytesPerSecond);
    }
    if (!header.m_bMpeg2) {
        lead = (lead + kTick27 - 1) / kTick27 * kTick27;
    }
    WritePackClock(prefix.data(), header.m_bMpeg2, Clock27(from.m_pack) - lead);
    copy.m_prefix = std::move(prefix);
    copy.m_patch = from.m_brokenLink;
    return copy;
}
