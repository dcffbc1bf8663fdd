// Test media made with ffmpeg's test sources, so no binary media is kept in the repository.
#include "testmedia.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>

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
    static std::mutex mutex;
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
