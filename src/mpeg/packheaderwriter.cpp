// The bit layout of pack headers of both versions, written.
#include "mpeg/packheaderwriter.h"

int64_t Clock27(const CPackHeader& pack) {
    return pack.m_llScr * 300 + pack.m_nScrExtension;
}

void WritePackClock(unsigned char* bytes, bool mpeg2, int64_t clock27) {
    constexpr int64_t kWrap27 = kClockWrap * 300;
    clock27 = ((clock27 % kWrap27) + kWrap27) % kWrap27;
    const int64_t scr = clock27 / 300;
    unsigned char* b = bytes + 4;
    if (mpeg2) {
        const auto extension = static_cast<unsigned>(clock27 % 300);
        b[0] =
            static_cast<unsigned char>((b[0] & 0xC4) | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3));
        b[1] = static_cast<unsigned char>((scr >> 20) & 0xFF);
        b[2] = static_cast<unsigned char>((b[2] & 0x04) | ((scr >> 15) & 0x1F) << 3 |
                                          ((scr >> 13) & 3));
        b[3] = static_cast<unsigned char>((scr >> 5) & 0xFF);
        b[4] =
            static_cast<unsigned char>((b[4] & 0x04) | (scr & 0x1F) << 3 | ((extension >> 7) & 3));
        b[5] = static_cast<unsigned char>((b[5] & 0x01) | (extension & 0x7F) << 1);
        return;
    }
    b[0] = static_cast<unsigned char>((b[0] & 0xF1) | ((scr >> 30) & 7) << 1);
    b[1] = static_cast<unsigned char>((scr >> 22) & 0xFF);
    b[2] = static_cast<unsigned char>((b[2] & 0x01) | ((scr >> 15) & 0x7F) << 1);
    b[3] = static_cast<unsigned char>((scr >> 7) & 0xFF);
    b[4] = static_cast<unsigned char>((b[4] & 0x01) | (scr & 0x7F) << 1);
}

std::vector<unsigned char> MakePackHeader(const CPackHeader& pack) {
    std::vector<unsigned char> bytes(pack.m_bMpeg2 ? 14 : 12, 0);
    bytes[2] = 0x01;
    bytes[3] = kPackId;
    const uint32_t rate = pack.m_nMuxRate;
    if (pack.m_bMpeg2) {
        bytes[4] = 0x44;
        bytes[6] = bytes[8] = 0x04;
        bytes[9] = 0x01;
        bytes[10] = static_cast<unsigned char>(rate >> 14);
        bytes[11] = static_cast<unsigned char>(rate >> 6);
        bytes[12] = static_cast<unsigned char>((rate & 0x3F) << 2 | 3);
        bytes[13] = 0xF8;
    } else {
        bytes[4] = 0x21;
        bytes[6] = bytes[8] = 0x01;
        bytes[9] = static_cast<unsigned char>(0x80 | rate >> 15);
        bytes[10] = static_cast<unsigned char>(rate >> 7);
        bytes[11] = static_cast<unsigned char>((rate & 0x7F) << 1 | 1);
    }
    WritePackClock(bytes.data(), pack.m_bMpeg2, Clock27(pack));
    return bytes;
}
