// The sound at the joints of one output written from several pieces. A muxer sends a
// recording's sound some way behind or ahead of its pictures, so a piece cut at a picture
// carries sound from before its first picture, which on the joined clock would play again over
// the end of the piece before. That sound is left out, whole frames at a time: its packets
// become padding of the same size, and the first packet kept starts at a whole frame. So every
// sound stream's time stamps keep rising across a joint; the pictures are not touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "mpeg/audioframes.h"

class CAudioJoint {
public:
    // The units that follow belong to the next piece.
    void BeginPiece();
    // One unit of the output, its clock already moved; an audio packet may be rewritten in
    // place, its size kept.
    void OnUnit(unsigned char* unit, size_t length);

private:
    struct CStream {
        EAudioFrames m_format = EAudioFrames::Mpeg;
        // Where the sound written so far ends on the output's clock.
        std::optional<int64_t> m_end;
        // That end, reckoned from the last time stamp written and the frame bytes since.
        std::optional<int64_t> m_lastStamp;
        int64_t m_llBytesSinceStamp = 0;
        CAudioFrame m_frame;
        // In the current piece: sound is written (before that, packets are left out while
        // they would play before m_end), and the packets left out.
        bool m_bOpen = false;
        int m_nLeftOut = 0;
    };

    // The packet becomes padding of its size.
    static void LeaveOut(CStream& stream, unsigned char* unit, size_t length);

    // Frame bytes written; `first`: where the first frame that starts in them begins, which
    // the packet's time stamp times.
    void Written(CStream& stream, const unsigned char* data, size_t size,
                 std::optional<size_t> first, std::optional<int64_t> stamp);

    std::map<uint16_t, CStream> m_streams;
};
