// Test media made with ffmpeg's and GStreamer's test sources, so no binary media is kept in
// the repository; the real samples are the exception (tests/data/samples).
#include "testmedia.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

class CScratch {
public:
    CScratch() {
        m_path = fs::temp_directory_path() / ("tarnwick-media-" + std::to_string(getpid()));
        fs::create_directories(m_path);
    }
    ~CScratch() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

CScratch& Scratch() {
    static CScratch scratch;
    return scratch;
}

bool RunFfmpeg(const std::string& arguments, const fs::path& output) {
    const std::string command =
        "ffmpeg -nostdin -v error -y " + arguments + " '" + output.string() + "' 2>&1";
    return std::system(command.c_str()) == 0 && fs::exists(output) && fs::file_size(output) > 0;
}

constexpr const char* kVideo = "-f lavfi -i testsrc=size=352x288:rate=25 ";
constexpr const char* kTone = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";

bool RunCommand(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A program stream written the way surveillance cameras write theirs, which no muxer at hand
// produces: one MPEG-2 pack per picture or audio packet, the system header and the stream map
// in front of every key picture, the SCR equal to the time stamps, and pack stuffing that
// carries a counter (so it is not all 0xFF).
class CCameraMuxer {
public:
    explicit CCameraMuxer(std::ofstream& out) : m_out(out) {}

    // The shape of a camera that records long hours small: packs of some 50 to 600 bytes,
    // many of odd length, the system header and stream map every few dozen packs, the clock
    // from the time of day (124.5 s at the first pack), and every fifth audio packet with no
    // PES header at all: its sound follows the packet length.
    void WriteSmallPacks(const std::string& h264, const std::string& alaw) {
        constexpr int64_t kBase = 124 * 90000 + 45000;
        constexpr int64_t kFrameTicks = 90000 / 25;
        constexpr size_t kAudioBytes = 320;  // 40 ms at 8 kHz
        constexpr int kHeadersEvery = 40;
        // A-law silence with a little noise: read as MPEG-1 packet fields, "PTS and DTS
        // follow" and a time some ten hours away, marker bits and all.
        const std::string silence("\x37\x4F\xFD\x4C\x85", 5);
        std::mt19937 sizes(16);
        size_t audio = 0;
        int audioPackets = 0;
        int64_t frame = 0;
        const auto pack = [&](int64_t scr) {
            std::string bytes = PackHeader(scr);
            if (m_nPacks % kHeadersEvery == 1) {
                bytes += SystemHeader() + StreamMap();
            }
            return bytes;
        };
        for (const auto& [unit, key] : AccessUnits(h264)) {
            const int64_t pts = kBase + frame * kFrameTicks;
            for (size_t at = 0; at < unit.size();) {
                // Packs of 113 to 608 bytes where the picture is that large: no remainder shorter
                // than the least.
                constexpr size_t kLeast = 84;
                constexpr size_t kMost = 512;
                const size_t left = unit.size() - at;
                size_t chunk = kLeast + sizes() % (kMost - kLeast + 1);
                if (chunk >= left || left - chunk < kLeast) {
                    chunk = left <= kMost ? left : left - kLeast;
                }
                m_out << pack(pts) << Pes(0xE0, unit.substr(at, chunk), at == 0, pts);
                at += chunk;
            }
            while (audio + kAudioBytes <= alaw.size() &&
                   static_cast<int64_t>(audio) * 90000 / 8000 <= frame * kFrameTicks) {
                const int64_t apts = kBase + static_cast<int64_t>(audio) * 90000 / 8000;
                std::string sound = alaw.substr(audio, kAudioBytes);
                m_out << pack(apts);
                if (++audioPackets % 5 == 0) {
                    sound.replace(0, silence.size(), silence);
                    m_out << std::string("\0\0\1\xC0", 4) << Length(sound.size()) << sound;
                } else {
                    m_out << Pes(0xC0, sound, true, apts);
                }
                audio += kAudioBytes;
            }
            ++frame;
        }
    }

    void Write(const std::string& h264, const std::string& alaw) {
        constexpr int64_t kBase = 3600 * 90000;  // cameras count from the time of day
        constexpr int64_t kFrameTicks = 90000 / 25;
        constexpr size_t kAudioBytes = 320;  // 40 ms at 8 kHz
        constexpr size_t kChunk = 4000;
        size_t audio = 0;
        int64_t frame = 0;
        for (const auto& [unit, key] : AccessUnits(h264)) {
            const int64_t pts = kBase + frame * kFrameTicks;
            std::string pack = PackHeader(pts);
            if (key) {
                pack += SystemHeader() + StreamMap();
            }
            // The time stamp goes with the packet in which the picture starts.
            for (size_t at = 0; at < unit.size(); at += kChunk) {
                pack += Pes(0xE0, unit.substr(at, kChunk), at == 0, pts);
            }
            m_out << pack;
            while (audio + kAudioBytes <= alaw.size() &&
                   static_cast<int64_t>(audio) * 90000 / 8000 <= frame * kFrameTicks) {
                const int64_t apts = kBase + static_cast<int64_t>(audio) * 90000 / 8000;
                m_out << PackHeader(apts) << Pes(0xC0, alaw.substr(audio, kAudioBytes), true, apts);
                audio += kAudioBytes;
            }
            ++frame;
        }
    }

private:
    // The H.264 access units of an Annex B stream with one slice per picture, each with
    // whether it is a key (IDR) picture.
    static std::vector<std::pair<std::string, bool>> AccessUnits(const std::string& stream) {
        std::vector<std::pair<std::string, bool>> units;
        std::string current;
        size_t at = stream.find(std::string("\0\0\1", 3));
        while (at != std::string::npos) {
            const size_t next = stream.find(std::string("\0\0\1", 3), at + 3);
            const size_t end = next == std::string::npos ? stream.size() : next;
            const int type = static_cast<unsigned char>(stream[at + 3]) & 0x1F;
            current += std::string("\0\0\0\1", 4) + stream.substr(at + 3, end - at - 3);
            if (type == 1 || type == 5) {
                units.emplace_back(current, type == 5);
                current.clear();
            }
            at = next;
        }
        return units;
    }

    static void PutStamp(std::string& bytes, int prefix, int64_t value) {
        bytes += static_cast<char>(prefix << 4 | ((value >> 30) & 7) << 1 | 1);
        bytes += static_cast<char>((value >> 22) & 0xFF);
        bytes += static_cast<char>(((value >> 15) & 0x7F) << 1 | 1);
        bytes += static_cast<char>((value >> 7) & 0xFF);
        bytes += static_cast<char>((value & 0x7F) << 1 | 1);
    }

    static std::string Length(size_t length) {
        return {static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    }

    std::string PackHeader(int64_t scr) {
        constexpr uint32_t kMuxRate = 6106;  // 50-byte units: some 2.4 Mbit/s
        std::string bytes("\0\0\1\xBA", 4);
        bytes += static_cast<char>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3));
        bytes += static_cast<char>((scr >> 20) & 0xFF);
        bytes += static_cast<char>(((scr >> 15) & 0x1F) << 3 | 0x04 | ((scr >> 13) & 3));
        bytes += static_cast<char>((scr >> 5) & 0xFF);
        bytes += static_cast<char>((scr & 0x1F) << 3 | 0x04);
        bytes += static_cast<char>(0x01);
        bytes += static_cast<char>(kMuxRate >> 14);
        bytes += static_cast<char>((kMuxRate >> 6) & 0xFF);
        bytes += static_cast<char>((kMuxRate & 0x3F) << 2 | 3);
        bytes += static_cast<char>(0xF8 | 6);
        ++m_nPacks;
        bytes += std::string("\xFF\xFF", 2);
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes += static_cast<char>((m_nPacks >> shift) & 0xFF);
        }
        return bytes;
    }

    static std::string SystemHeader() {
        const std::string body("\x80\x2F\xB5\x07\xE1\xFF\xE0\xE0\x80\xC0\xC0\x20", 12);
        return std::string("\0\0\1\xBB", 4) + Length(body.size()) + body;
    }

    // H.264 (type 0x1B) and G.711 A-law (0x90, as the cameras declare it); no CRC is checked.
    static std::string StreamMap() {
        const std::string entries("\x1B\xE0\0\0\x90\xC0\0\0", 8);
        const std::string body = std::string("\xE0\xFF\0\0", 4) + Length(entries.size()) + entries +
                                 std::string(4, '\0');
        return std::string("\0\0\1\xBC", 4) + Length(body.size()) + body;
    }

    static std::string Pes(int id, const std::string& payload, bool stamped, int64_t pts) {
        std::string header("\x80", 1);
        if (stamped) {
            header += std::string("\x80\x05", 2);
            PutStamp(header, 2, pts);
        } else {
            header += std::string("\0\0", 2);
        }
        return std::string("\0\0\1", 3) + static_cast<char>(id) +
               Length(header.size() + payload.size()) + header + payload;
    }

    std::ofstream& m_out;
    uint32_t m_nPacks = 0;
};

bool MakeCameraStream(const fs::path& path, const std::string& size, int seconds,
                      const std::string& picture, bool smallPacks = false) {
    const fs::path video = path.string() + ".h264";
    const fs::path audio = path.string() + ".alaw";
    const std::string duration = " -t " + std::to_string(seconds);
    if (!RunFfmpeg("-f lavfi -i testsrc=size=" + size + ":rate=25" + duration + " " + picture +
                       " -pix_fmt yuv420p -c:v libx264 -threads 1 -preset ultrafast -g 50 "
                       "-bf 0 -f h264",
                   video) ||
        !RunFfmpeg(
            "-f lavfi -i sine=frequency=440:sample_rate=8000" + duration + " -c:a pcm_alaw -f alaw",
            audio)) {
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (smallPacks) {
        CCameraMuxer(out).WriteSmallPacks(ReadAll(video), ReadAll(audio));
    } else {
        CCameraMuxer(out).Write(ReadAll(video), ReadAll(audio));
    }
    out.close();
    fs::remove(video);
    fs::remove(audio);
    return out.good() && fs::file_size(path) > 0;
}

// A moving picture whose middle third carries noise, so the bit rate rises there.
std::string LongRecording(const std::string& size, int seconds, int rate) {
    const int third = seconds / 3;
    return "-f lavfi -i testsrc2=size=" + size +
           ":rate=25 -f lavfi -i sine=frequency=440:" + "sample_rate=" + std::to_string(rate) +
           " -t " + std::to_string(seconds) + " -vf \"noise=alls=40:allf=t:enable='between(t," +
           std::to_string(third) + "," + std::to_string(2 * third) + ")'\" -g 15 -bf 2 ";
}

std::string MakeLongRecording(TestMedia media, const fs::path& dir) {
    fs::path path;
    std::string arguments;
    switch (media) {
        case TestMedia::Mpeg1Long:
            path = dir / "long-mpeg1.mpg";
            arguments = LongRecording("352x288", 30, 44100) +
                        "-c:v mpeg1video -q:v 5 -c:a mp2 -b:a 128k -f mpeg";
            break;
        case TestMedia::VcdLong:
            path = dir / "long-vcd.mpg";
            arguments = LongRecording("352x288", 20, 44100) + "-target pal-vcd";
            break;
        case TestMedia::Svcd:
            path = dir / "svcd.mpg";
            arguments = LongRecording("480x576", 12, 44100) + "-target pal-svcd";
            break;
        default:
            path = dir / "long-dvd.vob";
            arguments = LongRecording("720x576", 12, 48000) + "-target pal-dvd";
            break;
    }
    return RunFfmpeg(arguments, path) ? path.string() : std::string();
}

// What `cat first second > path` writes.
std::string Concatenate(const std::string& first, const std::string& second, const fs::path& path) {
    if (first.empty() || second.empty()) {
        return {};
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << ReadAll(first) << ReadAll(second);
    out.close();
    return out.good() ? path.string() : std::string();
}

// A recording of `seconds` as Mpeg2Vob, and the same an hour later on the clock (copied,
// not coded again), for recordings joined from two.
std::pair<std::string, std::string> JoinedParts(int seconds, const std::string& videoRate) {
    const fs::path dir = Scratch().Path();
    const fs::path part = dir / ("part-" + std::to_string(seconds) + ".vob");
    const fs::path later = dir / ("part-" + std::to_string(seconds) + "-later.vob");
    if (!fs::exists(later)) {
        if (!RunFfmpeg(std::string(kVideo) + kTone + "-t " + std::to_string(seconds) +
                           " -c:v mpeg2video -g 12 -b:v " + videoRate +
                           " -c:a mp2 -b:a 128k -f vob",
                       part) ||
            !RunFfmpeg("-i '" + part.string() + "' -c copy -output_ts_offset 3600 -f vob", later)) {
            return {};
        }
    }
    return {part.string(), later.string()};
}

std::string Make(TestMedia media) {
    const fs::path dir = Scratch().Path();
    switch (media) {
        case TestMedia::Mpeg2Vob: {
            const fs::path path = dir / "mpeg2.vob";
            const bool ok = RunFfmpeg(std::string(kVideo) + kTone +
                                          "-t 3 -c:v mpeg2video -g 12 -b:v 1500k "
                                          "-c:a mp2 -b:a 128k -f vob",
                                      path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::Mpeg1Vcd: {
            const fs::path path = dir / "mpeg1.mpg";
            const bool ok = RunFfmpeg(std::string(kVideo) + kTone + "-t 3 -target pal-vcd", path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::DvdPal: {
            const fs::path path = dir / "dvd.vob";
            const bool ok = RunFfmpeg("-f lavfi -i testsrc=size=720x576:rate=25 " +
                                          std::string(kTone) + "-t 2 -target pal-dvd",
                                      path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::AudioOnly: {
            const fs::path path = dir / "audio.vob";
            const bool ok = RunFfmpeg(std::string(kTone) + "-t 3 -c:a mp2 -b:a 128k -f vob", path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::OnePicture: {
            const fs::path path = dir / "picture.vob";
            const bool ok =
                RunFfmpeg(std::string(kVideo) + "-frames:v 1 -c:v mpeg2video -f vob", path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::TextFile: {
            const fs::path path = dir / "text.mpg";
            std::ofstream(path) << "This is not a program stream.\nJust some text.\n";
            return path.string();
        }
        case TestMedia::FfmpegMpeg1: {
            const fs::path path = dir / "ffmpeg-mpeg1.mpg";
            const bool ok = RunFfmpeg(
                "-f lavfi -i testsrc=size=352x288:rate=25 "
                "-f lavfi -i sine=frequency=440:sample_rate=44100 "
                "-t 12 -c:v mpeg1video -c:a mp2 -f mpeg",
                path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::GstH264: {
            // The picture moves, so that pictures of different times differ; SPS and PPS come
            // with every key picture, as recorders write them.
            const fs::path path = dir / "gstreamer-h264.mpg";
            const bool ok =
                RunCommand(
                    "gst-launch-1.0 -q -e videotestsrc num-buffers=300 pattern=smpte "
                    "horizontal-speed=3 ! video/x-raw,width=320,height=240,framerate=25/1"
                    " ! x264enc key-int-max=25 speed-preset=ultrafast ! h264parse "
                    "config-interval=-1 ! mpegpsmux name=mux ! filesink location='" +
                    path.string() +
                    "' audiotestsrc num-buffers=517 ! audio/x-raw,rate=44100 ! "
                    "audioconvert ! lamemp3enc ! mpegaudioparse ! mux.") &&
                fs::exists(path) && fs::file_size(path) > 0;
            return ok ? path.string() : std::string();
        }
        case TestMedia::H264RareKeys: {
            const fs::path path = dir / "h264-rare-keys.mpg";
            const bool ok =
                RunCommand(
                    "gst-launch-1.0 -q -e videotestsrc num-buffers=750 pattern=smpte "
                    "horizontal-speed=3 ! video/x-raw,width=320,height=240,framerate=25/1"
                    " ! x264enc key-int-max=250 speed-preset=ultrafast ! h264parse "
                    "config-interval=-1 ! mpegpsmux name=mux ! filesink location='" +
                    path.string() +
                    "' audiotestsrc num-buffers=1292 ! audio/x-raw,rate=44100 ! "
                    "audioconvert ! lamemp3enc ! mpegaudioparse ! mux.") &&
                fs::exists(path) && fs::file_size(path) > 0;
            return ok ? path.string() : std::string();
        }
        case TestMedia::Camera: {
            const fs::path path = dir / "camera.mpg";
            return MakeCameraStream(path, "352x288", 20, "-b:v 200k") ? path.string()
                                                                      : std::string();
        }
        case TestMedia::CameraLarge: {
            const fs::path path = dir / "camera-large.mpg";
            // Noise makes the key pictures large, as a camera's are.
            return MakeCameraStream(path, "704x576", 12, "-vf noise=alls=12:allf=t -b:v 1500k")
                       ? path.string()
                       : std::string();
        }
        case TestMedia::CameraSmallPacks: {
            const fs::path path = dir / "camera-small-packs.mpg";
            return MakeCameraStream(path, "176x144", 320, "-b:v 24k", true) ? path.string()
                                                                            : std::string();
        }
        case TestMedia::SparseStamps: {
            // Pictures of some 330 bytes in packets of 4,000: each packet's one time stamp
            // stands for a dozen pictures.
            const fs::path path = dir / "sparse.mpg";
            const bool ok = RunFfmpeg(
                "-f lavfi -i testsrc=size=64x48:rate=25 -t 4.4 -c:v mpeg1video -q:v 2 "
                "-packetsize 4000 -f mpeg",
                path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::Joined: {
            const std::string part = TestMediaPath(TestMedia::Mpeg2Vob);
            if (part.empty()) {
                return {};
            }
            // What `cat a.vob a.vob > joined.vob` writes.
            const fs::path path = dir / "joined.vob";
            const std::string bytes = ReadAll(part);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << bytes << bytes;
            out.close();
            return out.good() ? path.string() : std::string();
        }
        case TestMedia::JoinedLater: {
            const auto [part, later] = JoinedParts(20, "600k");
            return Concatenate(part, later, dir / "joined-later.vob");
        }
        case TestMedia::JoinedLong: {
            const auto [part, later] = JoinedParts(60, "800k");
            return Concatenate(part, part, dir / "joined-long.vob");
        }
        case TestMedia::JoinedLongLater: {
            const auto [part, later] = JoinedParts(60, "800k");
            return Concatenate(part, later, dir / "joined-long-later.vob");
        }
        case TestMedia::ClockMismatch: {
            // ffmpeg complains of every packet that the rate cannot carry.
            const fs::path path = dir / "clock-mismatch.vob";
            const bool ok = RunFfmpeg(std::string(kVideo) +
                                          "-t 3 -c:v mpeg2video -b:v 1500k -muxrate 100000 "
                                          "-v fatal -f vob",
                                      path);
            return ok ? path.string() : std::string();
        }
        case TestMedia::Mpeg1Long:
        case TestMedia::VcdLong:
        case TestMedia::Svcd:
        case TestMedia::DvdLong:
            return MakeLongRecording(media, dir);
        case TestMedia::PackGarbage: {
            const fs::path path = dir / "garbage.mpg";
            std::ofstream out(path, std::ios::binary);
            out.write("\x00\x00\x01\xBA", 4);
            std::mt19937 noise(7);
            for (int i = 0; i < 64 * 1024; ++i) {
                out.put(static_cast<char>(noise() & 0xFF));
            }
            return path.string();
        }
    }
    return {};
}

}  // namespace

std::string TestMediaPath(TestMedia media) {
    // Recursive: a joined stream is made from another test stream.
    static std::recursive_mutex mutex;
    static std::map<TestMedia, std::string> made;
    std::lock_guard lock(mutex);
    auto found = made.find(media);
    if (found == made.end()) {
        found = made.emplace(media, Make(media)).first;
    }
    return found->second;
}

std::optional<double> FfprobeDuration(const std::string& path) {
    const std::string command =
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::array<char, 128> line{};
    if (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) == nullptr) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double seconds = std::strtod(line.data(), &end);
    return end != line.data() ? std::optional<double>(seconds) : std::nullopt;
}

namespace {

// The lines a command prints on its standard output.
std::vector<std::string> CommandLines(const std::string& command) {
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (pipe == nullptr) {
        return lines;
    }
    std::array<char, 4096> line{};
    while (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
        std::string text(line.data());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        lines.push_back(text);
    }
    return lines;
}

}  // namespace

std::vector<double> KeyPictureTimes(const std::string& path) {
    std::vector<double> times;
    for (const std::string& line :
         CommandLines("ffprobe -v error -select_streams v:0 "
                      "-show_entries frame=best_effort_timestamp_time,pict_type "
                      "-of csv=p=0 '" +
                      path + "'")) {
        // "12.345000,I" (some builds add fields after the type)
        const size_t comma = line.find(',');
        if (comma != std::string::npos && line.compare(comma + 1, 1, "I") == 0) {
            times.push_back(std::strtod(line.c_str(), nullptr));
        }
    }
    return times;
}

std::optional<double> FfprobeStartTime(const std::string& path) {
    const std::vector<std::string> lines = CommandLines(
        "ffprobe -v error -show_entries format=start_time -of default=nw=1:nk=1 '" + path + "'");
    if (lines.empty() || lines[0].empty() || lines[0] == "N/A") {
        return std::nullopt;
    }
    return std::strtod(lines[0].c_str(), nullptr);
}

std::string FirstPictureErrors(const std::string& path) {
    std::string errors;
    for (const std::string& line : CommandLines("ffmpeg -nostdin -v error -i '" + path +
                                                "' -map 0:v:0 -frames:v 1 -f null - 2>&1")) {
        const bool audio = line.starts_with("[mp2 @") || line.starts_with("[mp3float @") ||
                           line.starts_with("[mp3 @") || line.starts_with("[ac3 @");
        if (audio || line.find("Last message repeated") != std::string::npos) {
            continue;
        }
        errors += line + "\n";
    }
    return errors;
}

std::vector<std::string> DecodeErrorLines(const std::string& path, bool videoOnly) {
    std::vector<std::string> lines =
        CommandLines("ffmpeg -nostdin -v error -threads 1 -i '" + path + "'" +
                     (videoOnly ? " -map 0:v:0" : "") + " -f null - 2>&1");
    if (videoOnly) {
        // The audio decoders still speak while ffmpeg looks at the streams.
        std::erase_if(lines, [](const std::string& line) {
            return line.starts_with("[mp2 @") || line.starts_with("[mp3") ||
                   line.starts_with("[ac3 @") ||
                   line.find("Last message repeated") != std::string::npos;
        });
    }
    return lines;
}

std::vector<std::string> GstreamerProblems(const std::string& path) {
    std::vector<std::string> problems;
    const std::string absolute = fs::absolute(path).string();
    for (std::string& line :
         CommandLines("timeout 120 gst-launch-1.0 playbin 'uri=file://" + absolute +
                      "' video-sink=fakesink audio-sink=fakesink 2>&1; echo \"exit $?\"")) {
        if (line.starts_with("ERROR") || line.starts_with("WARNING") ||
            (line.starts_with("exit ") && line != "exit 0")) {
            problems.push_back(std::move(line));
        }
    }
    return problems;
}

std::vector<std::string> VideoPacketHashes(const std::string& path) {
    std::vector<std::string> hashes;
    for (const std::string& line : CommandLines("ffmpeg -nostdin -v error -i '" + path +
                                                "' -map 0:v:0 -c copy -f framemd5 - 2>/dev/null")) {
        if (!line.empty() && line[0] != '#') {
            const size_t comma = line.rfind(',');
            hashes.push_back(line.substr(comma == std::string::npos ? 0 : comma + 1));
        }
    }
    return hashes;
}

std::optional<CDecodedPicture> DecodeFirstPicture(const std::string& path,
                                                  std::optional<double> atSeconds) {
    static std::atomic<int> counter{0};
    const fs::path raw = Scratch().Path() / ("picture-" + std::to_string(++counter) + ".raw");
    // -copyts keeps the stream's own time stamps, which select sees and showinfo prints.
    std::string filters = "showinfo";
    if (atSeconds) {
        char select[96];
        std::snprintf(select, sizeof select, "select='gte(t\\,%.6f)',", *atSeconds - 0.0005);
        filters = select + filters;
    }
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel info -copyts -i '" + path +
                                "' -map 0:v:0 -frames:v 1 -vf \"" + filters +
                                "\" -f rawvideo -pix_fmt gray -y '" + raw.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::optional<double> seconds;
    std::array<char, 4096> line{};
    while (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
        const char* at = std::strstr(line.data(), "pts_time:");
        if (at != nullptr && !seconds) {
            seconds = std::strtod(at + 9, nullptr);
        }
    }
    pipe.reset();
    std::string pixels = ReadAll(raw);
    std::error_code ignored;
    fs::remove(raw, ignored);
    if (!seconds || pixels.empty()) {
        return std::nullopt;
    }
    return CDecodedPicture{*seconds, std::move(pixels)};
}

std::string SamplePath(const std::string& name) {
    const char* dir = std::getenv("TARNWICK_SAMPLES");
    if (dir == nullptr) {
        return {};
    }
    const fs::path path = fs::path(dir) / name;
    return fs::exists(path) ? path.string() : std::string();
}

std::string ScratchDir() {
    return Scratch().Path().string();
}
