// How long one picture of a video stream lasts, from the stream's own headers: the MPEG-1/2
// sequence header's frame rate, or the timing of an H.264 SPS. A stream whose packets carry a
// time stamp only now and then ends one picture after its last one, not one step between two.
#pragma once

#include <cstdint>
#include <span>

class CPictureRate {
public:
    // Clock ticks (90 kHz) of one picture from a sequence header or SPS that starts in
    // `payload`; 0 when there is none, or it states no rate.
    static int64_t FindPictureTicks(std::span<const unsigned char> payload);

    // The same from the bytes of one header, after its start code.
    static int64_t MpegSequenceTicks(std::span<const unsigned char> header);
    static int64_t H264SpsTicks(std::span<const unsigned char> sps);
};
