// Small program streams made with ffmpeg while the tests run, and the real samples.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class TestMedia {
    Mpeg2Vob,     // MPEG-2 video 352x288 at 25 fps with MPEG audio, 3 s, DVD-style packs
    Mpeg1Vcd,     // MPEG-1 video CD stream, 3 s
    DvdPal,       // DVD-Video stream: 720x576 MPEG-2, AC-3 audio, navigation packs, 2 s
    AudioOnly,    // MPEG audio only, 3 s
    OnePicture,   // a pack header and one picture: playable, but without any length
    TextFile,     // not a media file at all
    PackGarbage,  // a pack start code followed by noise
    // Program streams of the shapes found in the wild:
    FfmpegMpeg1,       // ffmpeg's default MPEG-1 system muxer (-f mpeg), 12 s: a first pack of
                       // some 26 KB, beyond the first 20,000 bytes
    GstH264,           // GStreamer's mpegpsmux, H.264 and MP3, 12 s: a first pack of some 100 KB
    Camera,            // a surveillance camera's stream, 20 s: H.264 and G.711 A-law in MPEG audio
                       // packets, a pack per picture or audio packet, system header and stream map
                       // before every key picture, pack stuffing that is not all 0xFF (so the
                       // framework finds no length for it); its first pack is 4 to 5 KB
    CameraLarge,       // the same shape at 704x576, 12 s: its first pack (a key picture) is some
                       // 100 KB
    CameraSmallPacks,  // a camera that records long hours small, 320 s: H.264 and G.711 in
                       // packs of some 50 to 600 bytes, the first pack's clock 124.5 s, and
                       // audio packets now and then with no PES header at all
    SparseStamps,      // MPEG-1 video only, 4.4 s, in packets of 4,000 bytes that each carry
                       // one time stamp for a dozen pictures
    Joined,            // Mpeg2Vob twice, joined with cat: the clock runs back in the middle
    // Recordings joined from two, whose second part's clock runs an hour later or starts
    // again: 20 s + 20 s (the jump inside the places the clock is read) and 60 s + 60 s
    // (between them).
    JoinedLater,
    JoinedLong,
    JoinedLongLater,
    ClockMismatch,  // Mpeg2Vob's video stated to arrive at 100 kbit/s: its pack clock runs
                    // far slower than its time stamps, so only the framework can measure it
    // Longer recordings with B pictures (groups of 15, open after the first) and a bit rate
    // that rises in their middle third, as real recordings vary:
    Mpeg1Long,  // 30 s of MPEG-1 from ffmpeg's MPEG-1 system muxer (-f mpeg)
    VcdLong,    // a 20 s video CD stream (-target pal-vcd)
    Svcd,       // a 12 s super video CD stream (-target pal-svcd)
    DvdLong,    // a 12 s DVD-Video stream with navigation packs (-target pal-dvd)
    // GStreamer's mpegpsmux, 30 s of H.264 (x264 with its default of a key picture every
    // 250 pictures: one every 10 s) and MP3
    H264RareKeys,
};

// The file, made once per test process in a temporary folder; empty when ffmpeg failed.
std::string TestMediaPath(TestMedia media);

// ffprobe's duration of the container in seconds, if it gives one.
std::optional<double> FfprobeDuration(const std::string& path);

// The times of the I pictures of the file's first video stream, in seconds, as ffprobe reads
// them (its best-effort time stamps: not every picture carries one of its own).
std::vector<double> KeyPictureTimes(const std::string& path);

// ffprobe's start time of the container in seconds, if it gives one.
std::optional<double> FfprobeStartTime(const std::string& path);

// What ffmpeg reports while it decodes the first picture of the first video stream (-v error),
// without the complaints of audio decoders about frames cut at the start of the file, which
// it reads while it looks at the streams.
std::string FirstPictureErrors(const std::string& path);

// Every line `ffmpeg -v error` prints while it decodes all streams of the file, or only its
// first video stream.
std::vector<std::string> DecodeErrorLines(const std::string& path, bool videoOnly = false);

// The errors and warnings a GStreamer pipeline (playbin, every stream to a fakesink) posts
// while it plays the file to its end, and its exit status unless 0 (124: not ended in two
// minutes).
std::vector<std::string> GstreamerProblems(const std::string& path);

// The MD5 of each packet of the first video stream, in file order, as ffmpeg's framemd5 gives
// them when it copies the stream.
std::vector<std::string> VideoPacketHashes(const std::string& path);

// The first picture ffmpeg decodes from the file, as 8-bit grey pixels, and its time stamp in
// seconds; nothing when none decodes. With atSeconds, the first picture at or after that time
// stamp of the stream (not counted from its start).
struct CDecodedPicture {
    double m_dSeconds = 0;
    std::string m_strPixels;
};
std::optional<CDecodedPicture> DecodeFirstPicture(const std::string& path,
                                                  std::optional<double> atSeconds = {});

// A file of the real samples (TARNWICK_SAMPLES); empty when it is not there.
std::string SamplePath(const std::string& name);

// A scratch folder of this process, removed at exit.
std::string ScratchDir();
