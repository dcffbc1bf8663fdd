// Shared fixtures of the engine tests: temporary folders, synthetic program streams, a
// recording reporter and slow, obvious reference models of the rules the engine implements.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mpeg/reporter.h"
#include "mpeg/unitwalker.h"

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    // The folder text with a trailing separator, as output folders are given.
    std::string Folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// size bytes of filler that never forms a start code (no byte is 0), with 00 00 01 BA written
// at each of the offsets.
Bytes MakeStream(size_t size, const std::vector<int64_t>& packOffsets);
// A stream with a pack start code every `spacing` bytes from 0 and the second at `header`.
Bytes MakeRegularStream(size_t size, int64_t header, int64_t spacing);

// Writes program streams unit by unit, with real pack headers, system headers, stream maps
// and PES packets, for the tests of the system layer and the stream's clock. Times are 90 kHz
// clock values.
class CPsBuilder {
public:
    CPsBuilder& Pack(int64_t scr, bool mpeg2 = true, uint32_t muxRate = 25200, int stuffing = 0);
    CPsBuilder& SystemHeader();
    CPsBuilder& StreamMap();
    // A packet of `payload` bytes (at least 4) with the time stamps given; MPEG-1 packets have
    // stuffing and an STD buffer size in front. The payload is filler that holds no start code;
    // an MPEG audio stream's payload starts with a layer II frame header (48 kHz, 384 bytes a
    // frame), a private stream 1 payload with `subStream`.
    CPsBuilder& Packet(uint8_t id, size_t payload, std::optional<int64_t> pts = {},
                       std::optional<int64_t> dts = {}, bool mpeg2 = true,
                       uint8_t subStream = 0x80);
    // A packet that carries the payload given.
    CPsBuilder& Packet(uint8_t id, const Bytes& payload, std::optional<int64_t> pts,
                       std::optional<int64_t> dts, bool mpeg2);
    CPsBuilder& Raw(const Bytes& bytes);
    CPsBuilder& EndCode();

    const Bytes& Data() const { return m_bytes; }
    int64_t Size() const { return static_cast<int64_t>(m_bytes.size()); }
    // The offsets of the units written, in order.
    const std::vector<int64_t>& UnitOffsets() const { return m_offsets; }

private:
    void Stamp(int prefix, int64_t value);
    void Length(size_t length);

    Bytes m_bytes;
    std::vector<int64_t> m_offsets;
};

// A recording as muxers write one: from `start` for `seconds`, 25 pictures a second (video
// 0xE0, `pictureBytes` each) and MPEG audio frames of 24 ms (0xC0), each in a pack of its own
// whose SCR runs `preload` ahead of the time stamps.
struct CRecordingShape {
    int64_t m_llStart = 90000;
    double m_dSeconds = 4.0;
    size_t m_nPictureBytes = 1500;
    int64_t m_llPreload = 45000;
    bool m_bAudio = true;
    bool m_bStamps = true;  // false: no PTS at all, only the pack clock
};
void AppendRecording(CPsBuilder& builder, const CRecordingShape& shape);

// A recording of video as DVD, VCD and camera muxers write one: packs of a fixed size, each
// with one packet of video or audio; MPEG video in groups of pictures in coded order (I B B P B
// B ..., the first group closed) or H.264 with an IDR picture per group; start codes fall where
// the packet sizes put them, also across two packets. 25 pictures a second.
// How an H.264 stream's groups begin after its first.
enum class EH264Keys {
    Idr,            // an IDR picture
    RecoveryPoint,  // an I picture with a recovery-point SEI (after one of user data)
    Intra,          // an I picture and nothing else; the first group begins with an IDR
    IntraOnly,      // as Intra, but no IDR anywhere, not even first
};

struct CVideoShape {
    bool m_bH264 = false;
    EH264Keys m_eH264Keys = EH264Keys::Idr;
    bool m_bGroupHeaders = true;    // MPEG: else later groups' I pictures come without any header
    bool m_bFieldPictures = false;  // MPEG-2: I pictures as two I fields; picture extensions
    bool m_bMpeg2 = true;  // pack and packet syntax (and a sequence extension for MPEG video)
    double m_dSeconds = 10.0;
    int m_nGroupPictures = 12;
    bool m_bSequenceEveryGroup = true;  // else only before the first group (H.264: SPS and PPS)
    bool m_bClosedGroups = false;       // the first group is closed in any case
    bool m_bNavigationPacks = false;    // a DVD navigation pack before each group
    bool m_bSplitHeaders = false;       // each group's first start code runs across two packets
    bool m_bAudio = true;
    size_t m_nPackBytes = 2048;
    size_t m_nIntraBytes = 9000;  // bytes of an I picture; others have a third, and every
                                  // third group twice as many (variable bit rate)
    int64_t m_llStart = 45000;    // the first picture's time stamp
    uint32_t m_nMuxRate = 25200;  // units of 50 bytes a second
};

// Where a group of pictures lies in the made stream.
struct CGroupMark {
    int64_t m_llHeaderPack = 0;    // the pack holding the first byte of its first header
    int64_t m_llPack = 0;          // where a piece starting at it starts (its navigation pack)
    int64_t m_llPictureTime = 0;   // the time stamp of its I (IDR) picture
    bool m_bSequence = false;      // it has a sequence header (SPS) of its own
    int64_t m_llFlagsOffset = -1;  // MPEG video: the byte with closed_gop and broken_link
};

Bytes MakeVideoRecording(const CVideoShape& shape, std::vector<CGroupMark>* groups = nullptr);

// What a shell command left: its exit status (-1 when it did not exit normally) and what it
// wrote to its standard output and error, captured in files of the scratch folder.
struct CommandOutcome {
    int status;
    std::string out;
    std::string err;
};
CommandOutcome RunShellCommand(const std::string& command, const CTempDir& scratch);

// Runs body in a forked child and returns its exit status, 128 plus the number of the signal
// that ended it, or -1 when no child could be started. After timeoutSeconds SIGALRM ends the
// child (128 + 14), so a call that would block forever fails the test instead. With asNobody,
// a child of root first becomes user and group 65534, so permissions apply to it; the files
// it needs must be given to it (GiveToChild).
int RunInChild(const std::function<int()>& body, unsigned timeoutSeconds, bool asNobody = false);
// The tests run as root, whom no permission stops.
bool RunningAsRoot();
// Sets the mode of a file or folder and, when running as root, gives it to user 65534.
void GiveToChild(const std::string& path, mode_t mode);
// True when files can be created without a name in the folder (O_TMPFILE), so that not even a
// killed process leaves a temporary file behind.
bool SupportsUnnamedFiles(const std::string& folder);

// The units a walk over the file at path hands out, and whether it read without failing.
struct CWalked {
    std::vector<CPsUnit> m_units;
    bool m_bRead = false;
};
CWalked WalkFile(const std::string& path, int64_t begin, int64_t end, bool syncFirst,
                 CUnitWalker::ENoise noise = CUnitWalker::ENoise::Resync);
// The offsets of the units walked, in order.
std::vector<int64_t> Offsets(const CWalked& walked);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// The video elementary stream of a program stream file (the payloads of its video packets, in
// order), with every group of pictures' broken_link flag cleared.
Bytes VideoStreamOf(const std::string& path);
bool PathExists(const std::string& path);

// The slow, literal model of the 2,500-byte window search.
int64_t ReferenceBoundary(const Bytes& stream, int64_t position, int64_t header);
// The slow, literal model of the copy: header unless start is 0, then 512-byte reads until the
// running position reaches or passes end.
Bytes ReferenceCopy(const Bytes& stream, int64_t start, int64_t end, int64_t header);

// Records everything the engine tells the user, in order, as text lines:
// "Error: text" (caption: text), "App: text", "Ask: text", "Wait+" and "Wait-".
class CRecordingReporter final : public IReporter {
public:
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override;
    bool AskReplace(const std::string& text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    bool m_bAnswerYes = true;
    int m_nWaitDepth = 0;
    std::vector<std::string> m_events;
};

}  // namespace testing_support
