// Small program streams made with ffmpeg while the tests run, and the real samples.
#pragma once

#include <optional>
#include <string>

enum class TestMedia {
    Mpeg2Vob,     // MPEG-2 video 352x288 at 25 fps with MPEG audio, 3 s, DVD-style packs
    Mpeg1Vcd,     // MPEG-1 video CD stream, 3 s
    DvdPal,       // DVD-Video stream: 720x576 MPEG-2, AC-3 audio, navigation packs, 2 s
    AudioOnly,    // MPEG audio only, 3 s
    OnePicture,   // a pack header and one picture: playable, but without any length
    TextFile,     // not a media file at all
    PackGarbage,  // a pack start code followed by noise
};

// The file, made once per test process in a temporary folder; empty when ffmpeg failed.
std::string TestMediaPath(TestMedia media);

// ffprobe's duration of the container in seconds, if it gives one.
std::optional<double> FfprobeDuration(const std::string& path);

// A file of the real samples (TARNWICK_SAMPLES); empty when it is not there.
std::string SamplePath(const std::string& name);

// A scratch folder of this process, removed at exit.
std::string ScratchDir();
