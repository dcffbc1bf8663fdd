// The stream ids of a program stream and the sub-streams of private stream 1, named once for
// every reader of the system layer.
#pragma once

#include <cstdint>

// The start codes of the system layer that are no packets.
inline constexpr uint8_t kEndCodeId = 0xB9;
inline constexpr uint8_t kPackId = 0xBA;
inline constexpr uint8_t kSystemHeaderId = 0xBB;

// Packets that carry no elementary stream of their own kind.
inline constexpr uint8_t kStreamMapId = 0xBC;
inline constexpr uint8_t kPrivateStream1Id = 0xBD;  // DVD audio and subpictures
inline constexpr uint8_t kPaddingId = 0xBE;
inline constexpr uint8_t kPrivateStream2Id = 0xBF;  // DVD navigation

constexpr bool IsVideoStream(uint8_t streamId) {
    return streamId >= 0xE0 && streamId <= 0xEF;
}

constexpr bool IsMpegAudioStream(uint8_t streamId) {
    return streamId >= 0xC0 && streamId <= 0xDF;
}

// Streams of pictures or sound: video, MPEG audio and private stream 1.
constexpr bool IsElementaryStream(uint8_t streamId) {
    return IsVideoStream(streamId) || IsMpegAudioStream(streamId) || streamId == kPrivateStream1Id;
}

// Private stream 1 numbers its sub-streams in the first byte of each payload (DVD).
constexpr bool IsSubpictureSubStream(uint8_t subStreamId) {
    return subStreamId >= 0x20 && subStreamId <= 0x3F;
}

constexpr bool IsAc3SubStream(uint8_t subStreamId) {
    return subStreamId >= 0x80 && subStreamId <= 0x87;
}

constexpr bool IsDtsSubStream(uint8_t subStreamId) {
    return subStreamId >= 0x88 && subStreamId <= 0x8F;
}

constexpr bool IsLpcmSubStream(uint8_t subStreamId) {
    return subStreamId >= 0xA0 && subStreamId <= 0xA7;
}

// Elementary streams whose time stamps time the presentation: all but DVD subpictures, which
// are shown over the pictures and have no length of their own.
constexpr bool IsTimedStream(uint8_t streamId, uint8_t subStreamId) {
    return IsElementaryStream(streamId) &&
           !(streamId == kPrivateStream1Id && IsSubpictureSubStream(subStreamId));
}

// One elementary stream: its stream id with, for private stream 1, its sub-stream (0 for
// every other stream).
constexpr uint16_t StreamKey(uint8_t streamId, uint8_t subStreamId) {
    return static_cast<uint16_t>(streamId << 8 | subStreamId);
}
