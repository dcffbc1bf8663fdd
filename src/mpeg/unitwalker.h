// Walks the system layer of a program stream forward, unit by unit, with each unit's bytes at
// hand, reading the file one window at a time: memory is that window, whatever the walk's
// length. The stream's clock, the clean-cut planner and the header probe all read through it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "mpeg/packscanner.h"
#include "platform/io/fileio.h"

class CUnitWalker {
public:
    // The longest unit: a packet's start code, its 16-bit length and that many bytes.
    static constexpr int64_t kLongestUnit = 6 + 0xFFFF;
    // Longer than any unit's header: a window reaches this far past the walk's end, so the
    // header of its last unit is whole.
    static constexpr int64_t kHeaderSlack = 512;

    // What the walk does where the bytes after a unit are no unit.
    enum class ENoise { Resync, Stop };

    // `windowBytes`: more than kLongestUnit + kHeaderSlack, at most
    // CPackScanner::kMaxWindowBytes. With `size`, the file is known to hold that many bytes,
    // and one that ends sooner has failed to read; without it, the file's end ends a walk.
    explicit CUnitWalker(IFile& file, int64_t windowBytes = CPackScanner::kMaxWindowBytes,
                         std::optional<int64_t> size = std::nullopt)
        : m_scanner(file), m_llWindowBytes(windowBytes), m_llSize(size) {}

    // Starts a walk over the units that start in [begin, end): with `sync`, from the first
    // pack at or after begin (a begin in the middle of a stream), else from the unit at begin.
    // Reads nothing yet.
    void Start(int64_t begin, int64_t end, bool sync, ENoise noise = ENoise::Resync);

    // The next unit of the walk. False at the walk's end, at the file's end, at noise under
    // ENoise::Stop, and when a seek or a read failed (Failed).
    bool Next(CPsUnit& unit);

    // The bytes of the unit Next gave last, from its start code, and its payload: whole,
    // unless the unit reaches beyond the file's end (then up to it) or the walk's end (then at
    // least up to that). A packet's header is what lies before its payload. Valid until the
    // next call of Next.
    std::span<const unsigned char> Bytes(const CPsUnit& unit) const;
    std::span<const unsigned char> Payload(const CPsUnit& unit) const;

    // The last Next passed over bytes that are no unit: nothing before continues into it.
    bool Gap() const { return m_bGap; }
    bool Failed() const { return m_eFailure != EFailure::None; }
    bool SeekFailed() const { return m_eFailure == EFailure::Seek; }

    // Hands `visit` each unit of a walk that Start(begin, end, sync, noise) describes;
    // `visit` returns false to stop early. False only when a seek or a read failed.
    bool Walk(int64_t begin, int64_t end, bool sync, ENoise noise,
              const std::function<bool(const CPsUnit&)>& visit);

private:
    enum class EFailure { None, Seek, Read };

    bool Read(int64_t offset);
    bool Sync();
    bool Finish();
    std::span<const unsigned char> Span(int64_t offset, int64_t length) const;

    CPackScanner m_scanner;
    int64_t m_llWindowBytes;
    std::optional<int64_t> m_llSize;

    // The walk.
    int64_t m_llBegin = 0;
    int64_t m_llEnd = 0;
    ENoise m_eNoise = ENoise::Resync;
    bool m_bNeedSync = false;
    bool m_bWindowRead = false;
    bool m_bWindowAtEnd = false;  // the window reaches the file's end
    bool m_bDone = true;
    bool m_bGap = false;
    EFailure m_eFailure = EFailure::None;
};
