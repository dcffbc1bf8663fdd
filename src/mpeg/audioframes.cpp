// The frame lengths of MPEG audio and AC-3, from their headers' tables.
#include "mpeg/audioframes.h"

#include <array>

namespace {

std::optional<CAudioFrame> ParseMpegAudio(std::span<const unsigned char> b) {
    if (b.size() < 4 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int version = (b[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((b[1] >> 1) & 3);
    const int bitrateIndex = b[2] >> 4;
    const int rateIndex = (b[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }
    static constexpr std::array<std::array<int, 14>, 5> kKbps{{
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2, layer I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // 2, layers II, III
    }};
    static constexpr std::array<int, 3> kRates{44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const int64_t bitrate = int64_t{kKbps[table][bitrateIndex - 1]} * 1000;
    const int64_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    const int padding = (b[2] >> 1) & 1;
    int64_t length = 0;
    if (layer == 1) {
        length = (12 * bitrate / rate + padding) * 4;
    } else if (layer == 3 && !mpeg1) {
        length = 72 * bitrate / rate + padding;
    } else {
        length = 144 * bitrate / rate + padding;
    }
    const int samples = layer == 1 ? 384 : (layer == 3 && !mpeg1 ? 576 : 1152);
    return CAudioFrame{length, static_cast<uint32_t>(version << 4 | layer << 2 | rateIndex),
                       samples, static_cast<int32_t>(rate)};
}

std::optional<CAudioFrame> ParseAc3(std::span<const unsigned char> b) {
    if (b.size() < 6 || b[0] != 0x0B || b[1] != 0x77) {
        return std::nullopt;
    }
    const int rateCode = b[4] >> 6;
    const int sizeCode = b[4] & 0x3F;
    if (rateCode == 3 || sizeCode >= 38 || (b[5] >> 3) > 8) {
        return std::nullopt;
    }
    static constexpr std::array<int, 19> kKbps{32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                               192, 224, 256, 320, 384, 448, 512, 576, 640};
    const int64_t kbps = kKbps[static_cast<size_t>(sizeCode / 2)];
    int64_t length = 0;
    switch (rateCode) {
        case 0:  // 48 kHz
            length = kbps * 4;
            break;
        case 1:  // 44.1 kHz: frames alternate between two lengths
            length = 2 * (kbps * 320 / 147 + (sizeCode & 1));
            break;
        default:  // 32 kHz
            length = kbps * 6;
            break;
    }
    static constexpr std::array<int32_t, 3> kRates{48000, 44100, 32000};
    return CAudioFrame{length, static_cast<uint32_t>(rateCode), 1536,
                       kRates[static_cast<size_t>(rateCode)]};
}

}  // namespace

std::optional<CAudioFrame> ParseAudioFrame(EAudioFrames format,
                                           std::span<const unsigned char> bytes) {
    return format == EAudioFrames::Mpeg ? ParseMpegAudio(bytes) : ParseAc3(bytes);
}

std::optional<int64_t> FindConfirmedFrame(EAudioFrames format, std::span<const unsigned char> bytes,
                                          int64_t from) {
    const auto size = static_cast<int64_t>(bytes.size());
    for (int64_t at = from; at + 4 <= size; ++at) {
        const auto frame = ParseAudioFrame(format, bytes.subspan(static_cast<size_t>(at)));
        if (!frame || at + frame->m_llLength + 4 > size) {
            continue;
        }
        const auto next =
            ParseAudioFrame(format, bytes.subspan(static_cast<size_t>(at + frame->m_llLength)));
        if (next && next->m_nKind == frame->m_nKind) {
            return at;
        }
    }
    return std::nullopt;
}
