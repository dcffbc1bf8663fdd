// The engine under a fuzzer. Each input is a program stream and a command: the header probe,
// the pack boundary search and the clip cut, the equal split or the split by length run on a
// temporary file, and every outcome is checked against the slow reference models of the
// tests: the message sequence, the bytes of every output, and that the output folder holds
// nothing but the expected files. A difference aborts, which the fuzzer records as a finding.
//
// The same command then runs with clean cuts, whose outputs are checked against what clean
// cuts promise rather than a model: each output is its prefix and exactly a range of the
// source (one broken_link bit aside), a completed series holds the source once, and nothing
// but the commands' own refusals is reported.
//
// Input: 8 bytes of parameters, then the stream.
//   [0]    bits 0-1 command (0 probe and search only, 1 clip, 2 equal pieces, 3 by length);
//          bit 2: files are already there under the output names; bit 3: the replace
//          question is answered No
//   [1..2] total seconds (unsigned)
//   [3..4] start seconds or piece seconds (signed); [3] alone is the piece count (signed)
//   [5..6] end seconds (signed)           [7]    where to probe the boundary search
// Series of more than 256 pieces are left out: they would only make each run slower.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mpeg/messages.h"
#include "mpeg/mpegsource.h"
#include "mpeg/packscanner.h"
#include "mpeg/splitengine.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

constexpr size_t kParameterBytes = 8;
// What a clean joint may add to or take from the source's bytes: a pack header and a packet
// header rebuilt, each far below this.
constexpr int64_t kJointBytes = 256;
const Bytes kOldContent{'o', 'l', 'd'};

struct Expectation {
    std::vector<std::string> m_events;
    std::map<std::string, Bytes> m_files;  // by name in the output folder
    SplitStatus m_status = SplitStatus::Done;
};

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "tarnwick fuzz: %s\n", what.c_str());
    std::abort();
}

void Check(bool condition, const std::string& what) {
    if (!condition) {
        Finding(what);
    }
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += "\n  " + line;
    }
    return text;
}

int16_t LittleEndianInt16(const uint8_t* at) {
    return static_cast<int16_t>(static_cast<uint16_t>(at[0] | (at[1] << 8)));
}

bool CodeAt(const Bytes& stream, size_t at) {
    return at + 4 <= stream.size() && stream[at] == 0 && stream[at + 1] == 0 &&
           stream[at + 2] == 1 && stream[at + 3] == 0xBA;
}

// The header probe, literally: the second pack start code among the first 20,000 bytes.
int64_t ModelHeader(const Bytes& stream, std::string& error) {
    const size_t window = std::min<size_t>(stream.size(), 20000);
    if (!CodeAt(stream, 0)) {
        error = std::string("Error: ") + mpeg_text::kCanNotReadHead;
        return 0;
    }
    for (size_t i = 4; i + 3 < window; ++i) {
        if (CodeAt(stream, i)) {
            return static_cast<int64_t>(i);
        }
    }
    error = std::string("Error: ") + mpeg_text::kNoSecondPack;
    return 0;
}

// "<stem>_<k>.mpg" with k padded to the digits of the count, written out literally.
std::string PieceName(const std::string& stem, int32_t count, int32_t k) {
    const std::string digits = std::to_string(k);
    const size_t width = std::to_string(count).size();
    return stem + "_" + std::string(width > digits.size() ? width - digits.size() : 0, '0') +
           digits + ".mpg";
}

// A series, piece by piece, until the first piece whose end is not after its start.
template <typename RawOffset>
void ModelSeries(const Bytes& stream, int64_t header, int64_t copied, int32_t count,
                 const std::string& stem, RawOffset raw, Expectation& expected) {
    const auto size = static_cast<int64_t>(stream.size());
    for (int32_t k = 0; k < count; ++k) {
        const int64_t start = ReferenceBoundary(stream, raw(k), header);
        const int64_t end = k == count - 1 ? size : ReferenceBoundary(stream, raw(k + 1), header);
        if (end <= start) {
            if (k > 0) {
                expected.m_events.emplace_back("Wait+");
            }
            expected.m_events.push_back(std::string("error: ") + mpeg_text::kCanNotSplit);
            if (k > 0) {
                expected.m_events.emplace_back("Wait-");
            }
            expected.m_status = SplitStatus::Failed;
            return;
        }
        expected.m_files[PieceName(stem, count, k)] = ReferenceCopy(stream, start, end, copied);
    }
    expected.m_events = {"Wait+", "Wait-", std::string("Message: ") + mpeg_text::kSplittingDone};
}

class CFuzzFolder {
public:
    CFuzzFolder() {
        // Memory-backed when the machine has it: the fuzzer writes thousands of files a second.
        std::string pattern =
            std::filesystem::is_directory("/dev/shm")
                ? "/dev/shm/tarnwick-fuzz-XXXXXX"
                : (std::filesystem::temp_directory_path() / "tarnwick-fuzz-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr, "no temporary folder");
        m_path = pattern;
        std::filesystem::create_directory(m_path / "out");
    }
    ~CFuzzFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CFuzzFolder(const CFuzzFolder&) = delete;
    CFuzzFolder& operator=(const CFuzzFolder&) = delete;

    std::string Source() const { return (m_path / "src.mpg").string(); }
    std::string Out() const { return (m_path / "out").string() + "/"; }

    void ClearOut() const {
        for (const auto& entry : std::filesystem::directory_iterator(m_path / "out")) {
            std::filesystem::remove_all(entry.path());
        }
    }

    std::map<std::string, Bytes> OutFiles() const {
        std::map<std::string, Bytes> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_path / "out")) {
            files[entry.path().filename().string()] = ReadFile(entry.path().string());
        }
        return files;
    }

private:
    std::filesystem::path m_path;
};

void CheckBoundarySearch(CMpegSource& source, const Bytes& stream, uint8_t seed) {
    const auto size = static_cast<int64_t>(stream.size());
    auto file = PosixFileSystem().OpenRead(source.SourcePath());
    Check(file != nullptr, "source cannot be opened again");
    CRecordingReporter reporter;
    for (int64_t position : {int64_t{0}, int64_t{2496}, size / 3, size - 1, size, size + 7000,
                             size * seed / 255, int64_t{seed} * 97}) {
        int64_t found = position;
        Check(source.FindPackBoundary(file.get(), found, reporter) && reporter.m_events.empty(),
              "boundary search failed at " + std::to_string(position));
        const int64_t model = ReferenceBoundary(stream, position, source.m_nHeaderLength);
        Check(found == model, "boundary from " + std::to_string(position) + ": " +
                                  std::to_string(found) + ", model " + std::to_string(model));
    }
}

// The clean run of the same command: its outputs and messages, checked by what they promise.
void CheckCleanRun(CMpegSource& source, const Bytes& stream, const CFuzzFolder& folder, int command,
                   int16_t first, int16_t second, int8_t pieces) {
    folder.ClearOut();
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    engine.SetOptions(CSplitOptions{true});
    SplitStatus status = SplitStatus::Done;
    if (command == 1) {
        status = engine.CutClip(source, {0, 0, first}, {0, 0, second}, folder.Out() + "clean.mpg");
    } else if (command == 2) {
        status = engine.SplitBySize(source, pieces, folder.Out());
    } else {
        status = engine.SplitByTime(source, first, folder.Out());
    }
    Check(status != SplitStatus::Cancelled && status != SplitStatus::Declined,
          "clean status " + std::to_string(static_cast<int>(status)));
    Check(reporter.m_nWaitDepth == 0, "clean: busy cursor left raised");
    for (const std::string& event : reporter.m_events) {
        const bool allowed = event == "Wait+" || event == "Wait-" ||
                             event == std::string("Message: ") + mpeg_text::kSplittingDone ||
                             event == std::string("error: ") + mpeg_text::kCanNotSplit ||
                             event.starts_with("Error: The ");
        Check(allowed, "clean message:" + Joined(reporter.m_events));
    }
    const auto size = static_cast<int64_t>(stream.size());
    int64_t next = 0;
    int64_t bodies = 0;  // bytes after the prefixes
    for (const COutputRecord& output : engine.Outputs()) {
        const Bytes bytes = ReadFile(output.m_strPath);
        Check(output.m_llStart >= 0 && output.m_llStart < output.m_llEnd && output.m_llEnd <= size,
              "clean range " + std::to_string(output.m_llStart) + ".." +
                  std::to_string(output.m_llEnd));
        Check((output.m_llHeaderBytes == 0) == (output.m_llStart == 0), "clean prefix at 0");
        Check(static_cast<int64_t>(bytes.size()) > output.m_llHeaderBytes,
              "clean size of " + output.m_strPath);
        CPackHeader prefix;
        Check(output.m_llHeaderBytes == 0 || ParsePackHeader(bytes.data(), bytes.size(), prefix),
              "clean prefix is no pack header");
        bodies += static_cast<int64_t>(bytes.size()) - output.m_llHeaderBytes;
        // A series' pieces follow each other without gap or overlap.
        Check(command == 1 || output.m_llStart == next, "clean pieces not contiguous");
        next = output.m_llEnd;
    }
    if (status == SplitStatus::Done && command != 1) {
        Check(next == size, "a clean series ends before the end of the source");
        // Each joint splits one pack in two, which adds a pack header and rebuilds the header
        // of the packet it cuts; every other rewrite keeps its size.
        const auto joints = static_cast<int64_t>(engine.Outputs().size()) - 1;
        Check(std::abs(bodies - size) <= joints * kJointBytes,
              "clean pieces hold " + std::to_string(bodies) + " bytes of a source of " +
                  std::to_string(size));
    }
    Check(ReadFile(folder.Source()) == stream, "the source changed in the clean run");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kParameterBytes) {
        return 0;
    }
    static const CFuzzFolder folder;
    const Bytes stream(data + kParameterBytes, data + size);
    const int command = data[0] & 3;
    const bool existing = (data[0] & 4) != 0;
    const bool answerNo = (data[0] & 8) != 0;
    const int32_t total = data[1] | (data[2] << 8);
    const int16_t first = LittleEndianInt16(data + 3);
    const int16_t second = LittleEndianInt16(data + 5);
    const auto pieces = static_cast<int8_t>(data[3]);
    if (command == 3 && first > 0 && total / first > 256) {
        return 0;
    }

    WriteFile(folder.Source(), stream);
    folder.ClearOut();

    CMpegSource source;
    Check(source.SetSourcePath(folder.Source()), "source path refused");
    CRecordingReporter probe;
    std::string probeError;
    int64_t header = ModelHeader(stream, probeError);
    const bool opened = source.ProbeHeader(probe);
    int64_t copied = header;
    // Beyond the first 20,000 bytes the probe follows a well-formed first pack, packet by
    // packet, to the second one; its structure is the probe tests' business. Here it must name
    // a pack start code within 4 MiB and copy no more than the first pack in front of pieces.
    if (opened && !probeError.empty() && stream.size() > 20000 &&
        probeError == std::string("Error: ") + mpeg_text::kNoSecondPack) {
        header = source.m_nHeaderLength;
        copied = source.m_nHeaderCopyLength;
        Check(header > 19996 && header <= (int64_t{4} << 20) &&
                  CodeAt(stream, static_cast<size_t>(header)),
              "a long first pack ends at " + std::to_string(header));
        Check(copied >= 4 && copied <= header, "header copy length " + std::to_string(copied));
        probeError.clear();
    }
    Check(opened == probeError.empty(), "probe result differs from the model");
    Check(probe.m_events ==
              (probeError.empty() ? std::vector<std::string>{} : std::vector{probeError}),
          "probe messages:" + Joined(probe.m_events));
    Check(source.m_llFileSize == static_cast<int64_t>(stream.size()), "probe size");
    if (!opened) {
        return 0;
    }
    Check(int64_t{source.m_nHeaderLength} == header, "header length");
    Check(int64_t{source.m_nHeaderCopyLength} == copied, "header copy length");
    CheckBoundarySearch(source, stream, data[7]);
    if (command == 0) {
        return 0;
    }
    source.m_nTotalSeconds = total;
    source.m_llDuration100ns = int64_t{total} * 10'000'000;

    // What is there before, and what the model expects after.
    Expectation expected;
    const std::string stem = "src";
    const std::string clipName = "clip.mpg";
    std::vector<std::string> oldNames;
    if (command == 1) {
        oldNames.push_back(clipName);
    } else {
        const int32_t count = command == 2 ? pieces : (first > 0 ? (total + first - 1) / first : 1);
        for (int32_t k = 0; k < std::min(count, 3); ++k) {
            oldNames.push_back(PieceName(stem, count, k));
        }
    }
    if (existing) {
        for (const std::string& name : oldNames) {
            WriteFile(folder.Out() + name, kOldContent);
            expected.m_files[name] = kOldContent;
        }
    }

    const auto streamSize = static_cast<int64_t>(stream.size());
    CRecordingReporter reporter;
    reporter.m_bAnswerYes = !answerNo;
    CSplitEngine engine(reporter);
    SplitStatus status = SplitStatus::Done;
    if (command == 1) {
        const int64_t start = first;
        const int64_t end = second;
        status = engine.CutClip(source, {0, 0, first}, {0, 0, second}, folder.Out() + clipName);
        const char* refused = nullptr;
        if (total <= 0 || start >= total) {
            refused = mpeg_text::kStartBiggerThanTotal;
        } else if (end > total) {
            refused = mpeg_text::kEndBiggerThanTotal;
        } else if (start >= end) {
            refused = mpeg_text::kStartBiggerThanEnd;
        }
        if (refused != nullptr) {
            expected.m_events = {std::string("Error: ") + refused};
            expected.m_status = SplitStatus::Failed;
        } else {
            if (existing) {
                expected.m_events.push_back("Ask: " + folder.Out() + clipName +
                                            mpeg_text::kReplaceQuestionSuffix);
            }
            if (existing && answerNo) {
                expected.m_status = SplitStatus::Declined;
            } else {
                const int64_t from =
                    ReferenceBoundary(stream, ClipOffset(start, total, streamSize), header);
                const int64_t to =
                    end == total
                        ? streamSize
                        : ReferenceBoundary(stream, ClipOffset(end, total, streamSize), header);
                if (to <= from) {
                    expected.m_events.push_back(std::string("error: ") + mpeg_text::kCanNotSplit);
                    expected.m_status = SplitStatus::Failed;
                } else {
                    for (const char* event : {"Wait+", "Wait-"}) {
                        expected.m_events.emplace_back(event);
                    }
                    expected.m_events.push_back(std::string("Message: ") +
                                                mpeg_text::kSplittingDone);
                    expected.m_files[clipName] = ReferenceCopy(stream, from, to, copied);
                }
            }
        }
    } else if (command == 2) {
        status = engine.SplitBySize(source, pieces, folder.Out());
        if (pieces < 1) {
            expected.m_status = SplitStatus::NotStarted;
        } else {
            ModelSeries(
                stream, header, copied, pieces, stem,
                [&](int32_t k) { return EqualPieceOffset(k, pieces, streamSize); }, expected);
        }
    } else {
        status = engine.SplitByTime(source, first, folder.Out());
        if (total <= 0) {
            expected.m_status = SplitStatus::NotStarted;
        } else if (first <= 0) {
            expected.m_events = {std::string("Error: ") + mpeg_text::kPieceTimeNotPositive};
            expected.m_status = SplitStatus::Failed;
        } else {
            const int32_t count = total / first + (total % first != 0 ? 1 : 0);
            ModelSeries(
                stream, header, copied, count, stem,
                [&](int32_t k) { return TimedPieceOffset(k, total, first, streamSize); }, expected);
        }
    }

    Check(status == expected.m_status, "status " + std::to_string(static_cast<int>(status)) +
                                           ", model " +
                                           std::to_string(static_cast<int>(expected.m_status)));
    Check(reporter.m_events == expected.m_events,
          "messages:" + Joined(reporter.m_events) + "\nmodel:" + Joined(expected.m_events));
    Check(reporter.m_nWaitDepth == 0, "busy cursor left raised");
    const std::map<std::string, Bytes> written = folder.OutFiles();
    for (const auto& [name, bytes] : written) {
        const auto model = expected.m_files.find(name);
        Check(model != expected.m_files.end(), "unexpected file " + name);
        Check(model->second == bytes, "bytes of " + name + " differ from the model");
    }
    Check(written.size() == expected.m_files.size(), "an expected file is missing");
    Check(ReadFile(folder.Source()) == stream, "the source changed");
    CheckCleanRun(source, stream, folder, command, first, second, pieces);
    return 0;
}
