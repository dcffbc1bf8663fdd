// Header probe, duration probe and pack boundary search.
#include "mpeg/mpegsource.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "mpeg/messages.h"
#include "mpeg/packscanner.h"
#include "mpeg/streamclock.h"
#include "mpeg/unitwalker.h"

namespace {

bool IsPackStartCode(const unsigned char* bytes) {
    return std::memcmp(bytes, kPackStartCode, sizeof kPackStartCode) == 0;
}

struct CFirstPack {
    uint32_t m_nLength = 0;      // offset of the second pack
    uint32_t m_nCopyLength = 0;  // pack header, system headers and stream maps
};

// Follows the first pack's units from offset 0 to the next pack. Nothing when a unit does
// not parse (the bytes are no program stream to follow) or the next pack starts beyond
// kLongFirstPackBytes.
std::optional<CFirstPack> FollowLongFirstPack(IFile& file) {
    CUnitWalker walker(file);
    CFirstPack first;
    bool inPrefix = true;
    bool found = false;
    const bool read = walker.Walk(
        0, kLongFirstPackBytes, false, CUnitWalker::ENoise::Stop, [&](const CPsUnit& unit) {
            if (unit.m_llOffset == 0) {
                first.m_nCopyLength = static_cast<uint32_t>(unit.m_llLength);
                return unit.m_kind == EPsUnit::Pack;
            }
            if (unit.m_kind == EPsUnit::Pack) {
                first.m_nLength = static_cast<uint32_t>(unit.m_llOffset);
                found = true;
                return false;
            }
            const bool prefix =
                unit.m_kind == EPsUnit::SystemHeader || unit.m_kind == EPsUnit::StreamMap;
            inPrefix = inPrefix && prefix;
            if (inPrefix) {
                first.m_nCopyLength = static_cast<uint32_t>(unit.m_llOffset + unit.m_llLength);
            }
            return unit.m_kind != EPsUnit::EndCode;
        });
    if (!read || !found) {
        return std::nullopt;
    }
    return first;
}

}  // namespace

bool CMpegSource::SetSourcePath(std::string_view path) {
    if (path.size() >= kPathCapacity || path.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memcpy(m_szSourcePath, path.data(), path.size());
    m_szSourcePath[path.size()] = '\0';
    return true;
}

std::unique_ptr<IFile> OpenAndMeasureSource(CMpegSource& source, IReporter& reporter,
                                            IFileSystem& fileSystem) {
    auto file = fileSystem.OpenRead(source.m_szSourcePath);
    if (!file) {
        reporter.ShowMessage(mpeg_text::kCanNotOpenMpegFile, mpeg_text::kCaptionError);
        return nullptr;
    }
    const int64_t size = my_lseeki64(file.get(), 0, SeekOrigin::End);
    if (size == -1) {
        reporter.ShowMessage(mpeg_text::kSizeSeekWrong, mpeg_text::kCaptionError);
        return nullptr;
    }
    // A failure here shows up in the first read or seek that depends on it.
    my_lseeki64(file.get(), 0, SeekOrigin::Begin);
    source.m_llFileSize = size;
    return file;
}

bool CMpegSource::ProbeHeader(IReporter& reporter, IFileSystem& fileSystem) {
    auto file = OpenAndMeasureSource(*this, reporter, fileSystem);
    if (!file) {
        return false;
    }
    const int64_t length = m_llFileSize < kHeadWindowBytes ? m_llFileSize : kHeadWindowBytes;
    std::array<unsigned char, kHeadWindowBytes> head{};
    const int64_t got = file->Read(head.data(), static_cast<size_t>(length));
    if (got != length || got < 4 || !IsPackStartCode(head.data())) {
        file.reset();
        reporter.ShowMessage(mpeg_text::kCanNotReadHead, mpeg_text::kCaptionError);
        return false;
    }
    m_nHeaderLength = 0;
    m_nHeaderCopyLength = 0;
    for (int64_t i = 4; i < length - 3; ++i) {
        if (IsPackStartCode(head.data() + i)) {
            m_nHeaderLength = static_cast<uint32_t>(i);
            m_nHeaderCopyLength = m_nHeaderLength;
            break;
        }
    }
    if (m_nHeaderLength == 0 && m_llFileSize > kHeadWindowBytes) {
        if (const std::optional<CFirstPack> first = FollowLongFirstPack(*file)) {
            m_nHeaderLength = first->m_nLength;
            m_nHeaderCopyLength = first->m_nCopyLength;
        }
    }
    file.reset();
    if (m_nHeaderLength == 0) {
        reporter.ShowMessage(mpeg_text::kNoSecondPack, mpeg_text::kCaptionError);
        return false;
    }
    return true;
}

bool CMpegSource::ProbeDuration(const StopPositionQuery& query, IFileSystem& fileSystem) {
    if (auto file = fileSystem.OpenRead(m_szSourcePath)) {
        const int64_t size = my_lseeki64(file.get(), 0, SeekOrigin::End);
        if (const auto length = CStreamClock::Measure(*file, size)) {
            m_llDuration100ns = length->m_llDuration100ns;
            m_nTotalSeconds = static_cast<int32_t>(m_llDuration100ns / 10'000'000);
            m_eDurationSource = length->m_source == EClockSource::TimeStamps
                                    ? EDurationSource::TimeStamps
                                    : EDurationSource::PackClock;
            return true;
        }
    }
    if (!query || !query(m_szSourcePath, &m_llDuration100ns)) {
        return false;
    }
    m_eDurationSource = EDurationSource::MediaFramework;
    // The low 32 bits of the truncated quotient, as the signed 32-bit field keeps them.
    m_nTotalSeconds = static_cast<int32_t>(m_llDuration100ns / 10'000'000);
    return true;
}

bool CMpegSource::FindPackBoundary(IFile* file, int64_t& position, IReporter& reporter) const {
    std::array<unsigned char, kSearchWindowBytes> window{};
    const auto header = static_cast<int64_t>(m_nHeaderLength);
    // Below the first window's reach the answer is 0 without a read (and without underflow).
    if (position < kSearchTopOffset) {
        position = 0;
        return true;
    }
    for (int64_t start = position - kSearchTopOffset; start >= 0; start -= kSearchWindowBytes) {
        if (my_lseeki64(file, start, SeekOrigin::Begin) == -1) {
            reporter.ShowMessage(mpeg_text::kBoundarySeekWrong, mpeg_text::kCaptionError);
            return false;
        }
        // Only the count delivered matters: a failed read delivers nothing.
        int64_t got = file->Read(window.data(), window.size());
        if (got < 0) {
            got = 0;
        }
        if (got != kSearchWindowBytes && start + got < m_llFileSize) {
            reporter.ShowMessage(mpeg_text::kCanNotReadHead, mpeg_text::kCaptionError);
            position = 0;
            return false;
        }
        // Offsets start-3 .. start-1 are examined by no window: the step is 2,500 while a
        // window holds 2,497 candidates. Callers rely on exactly these boundaries.
        for (int64_t i = kSearchTopOffset; i >= 0; --i) {
            if (i + 3 >= got || !IsPackStartCode(window.data() + i)) {
                continue;
            }
            if ((start + i - header) % 2 == 0) {
                position = start + i;
                return true;
            }
        }
    }
    position = 0;
    return true;
}

std::string FormatSourceInfoLine(std::string_view fileName, int32_t totalSeconds) {
    char time[48];
    std::snprintf(time, sizeof time, "  (%02d:%02d:%02d)", totalSeconds / 3600,
                  totalSeconds % 3600 / 60, totalSeconds % 3600 % 60);
    return std::string(fileName) + time;
}
