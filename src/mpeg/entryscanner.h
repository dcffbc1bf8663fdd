// The video elementary stream as clean cuts read it: how it is coded, its start codes, and the
// scanner that follows them across packets to the places a piece can start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "mpeg/packscanner.h"
#include "mpeg/rangecopier.h"

// How a stream's video is coded, as far as the places to cut it go.
enum class ECleanVideo { None, Mpeg, H264 };

// MPEG-1/MPEG-2 video start codes (the byte after 00 00 01).
inline constexpr uint8_t kSequenceHeader = 0xB3;
inline constexpr uint8_t kGroupHeader = 0xB8;
inline constexpr uint8_t kPictureStart = 0x00;
inline constexpr uint8_t kExtensionStart = 0xB5;
inline constexpr uint8_t kUserData = 0xB2;
// The extension_start_code_identifier of a picture coding extension.
inline constexpr unsigned kPictureCodingExtension = 8;
// group_of_pictures_header: the byte after the time code's first 24 bits.
inline constexpr unsigned char kClosedGop = 0x40;
inline constexpr unsigned char kBrokenLink = 0x20;
// H.264: the NAL unit type of filler data.
inline constexpr uint8_t kFillerData = 0x0C;
// A group-of-pictures header with broken_link set, for a piece that starts at an I picture
// with no group header of its own: the leading B pictures after it are not shown.
inline constexpr std::array<unsigned char, 8> kBrokenGroupHeader{0x00, 0x00, 0x01, 0xB8,
                                                                 0x00, 0x08, 0x00, 0x20};

// How the video stream whose payload begins with these bytes is coded: an MPEG video stream
// begins with a sequence header, an H.264 one with an access unit delimiter or SPS.
ECleanVideo DetectVideo(std::span<const unsigned char> payload);

// Follows the units of a stretch of the stream and gathers the places a piece can start, in
// file order. Video: its elementary stream's start codes, also those split across packets;
// without video, every pack, timed by the reference stream's first time stamp in it.
// MPEG video: a sequence or group header followed by an I picture, or an I picture without
// either (not the second field of a frame). H.264: an IDR picture's access unit, one that
// an SEI marks as a recovery point and, with SetIntraUnits, one whose slices are all I slices.
class CEntryScanner {
public:
    // A place a piece can start.
    struct CEntry {
        int64_t m_llOffset = 0;      // where the piece starts
        int64_t m_llHeaderPack = 0;  // the pack holding the first byte of its header
        CPackHeader m_pack;          // of the pack at m_llOffset
        int64_t m_llHeaderScr = 0;   // the pack clock of the pack holding its header
        // That first byte of its header: where the piece's video begins.
        int64_t m_llHeaderOffset = 0;
        std::optional<int64_t> m_time;
        bool m_bTimeKnown = false;  // m_time is settled, known or not
        bool m_bNeedsParameters = false;
        bool m_bNeedsGroupHeader = false;  // an I picture without a group header of its own
        std::vector<unsigned char> m_parameters;
        std::optional<CBytePatch> m_brokenLink;
        // MPEG: a picture without a time of its own is timed from a later picture of its
        // group, by their places in display order (temporal_reference).
        int m_nTemporalReference = -1;
        uint32_t m_nGroup = 0;
    };

    // `reference`: the stream (StreamKey) whose time stamps time the packs of a stream
    // without video.
    CEntryScanner(ECleanVideo video, uint8_t videoId, std::optional<uint16_t> reference)
        : m_video(video), m_nVideoId(videoId), m_reference(reference) {}

    // Access units of I slices only count as places: for streams without IDR pictures.
    void SetIntraUnits(bool intraUnits) { m_bIntraUnits = intraUnits; }

    // The next unit of the stretch, with the bytes of its payload that were read.
    void OnUnit(const CPsUnit& unit, std::span<const unsigned char> payload);

    // The bytes before the next unit were no unit: nothing read so far continues into it.
    void OnGap();

    // The end of the stretch read: places still waiting for a time keep the one they have.
    void Flush();

    // True while a place whose header lies before `before` may still be completed by what
    // follows.
    bool Pending(int64_t before) const;

    // Takes the places completed so far.
    std::vector<CEntry> Take();

    // The first sequence header (SPS and PPS) the scanner read whole.
    const std::vector<unsigned char>& FirstParameters() const { return m_firstParameters; }

private:
    // What a capture gathers: a sequence header (SPS), a PPS, or an SEI read for its
    // recovery point.
    enum class ECapture { Sequence, PictureSet, Sei };

    // Bytes of a start code and what follows it that the scanner needs at once.
    static constexpr size_t kCodeBytes = 8;

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

    void OnPack(const CPsUnit& unit);

    bool TailOpensCode(int64_t before) const;

    CPacketInfo* Packet(uint32_t serial);

    std::optional<int64_t> UnitStart(uint32_t serial);

    // A picture's own time: places waiting for a time take it, through the picture's place in
    // display order where it is known (MPEG), as is otherwise.
    void TimeWaiting(int64_t time, int temporalReference);

    void Begin(uint32_t serial, bool hasParameters, int64_t headerOffset);

    void Complete(std::optional<int64_t> time);

    void Release();

    void Scan(const unsigned char* payload, size_t length, int64_t offset);

    template <typename ByteAt>
    void Capture(int64_t until, const ByteAt& byteAt, int64_t base);

    void StartCapture(const CCode& code, ECapture kind);

    template <typename ByteAt>
    void EndCapture(const CCode& code, const ByteAt& byteAt, int64_t base);

    template <typename ByteAt>
    void OnCode(const CCode& code, const ByteAt& byteAt);

    template <typename ByteAt>
    void OnMpegCode(const CCode& code, const ByteAt& byteAt, int64_t base);

    template <typename ByteAt>
    void OnH264Code(const CCode& code, const ByteAt& byteAt, int64_t base);

    void OnH264Slice(const CCode& code, int type);

    void OnPictureStructure(unsigned structure);

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
    uint32_t m_nGroups = 0;        // MPEG group headers read
    int64_t m_llPictureTicks = 0;  // MPEG: one picture, from the latest sequence header
    bool m_bUnitOpen = false;
    bool m_bSliceInUnit = false;
    bool m_bUnitHasSps = false;
    bool m_bUnitRecovers = false;    // an SEI of the unit marks a recovery point
    bool m_bIntraCandidate = false;  // m_pending waits for the unit's other slices
    // MPEG: an I picture without headers waits for its picture coding extension; the last
    // picture was a first field, and the current one's structure is known.
    bool m_bHeaderlessPending = false;
    std::optional<int64_t> m_headerlessTime;
    bool m_bFirstFieldOpen = false;
    bool m_bStructureSeen = false;
    bool m_bIntraUnits = false;
    uint32_t m_nUnitSerial = 0;
    int64_t m_llUnitOffset = 0;
    std::optional<int64_t> m_unitTime;

    // Sequence headers (SPS, PPS) as they pass.
    bool m_bCapturing = false;
    bool m_bCaptureTooLong = false;
    ECapture m_eCapture = ECapture::Sequence;
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
