// The picture rate of MPEG-1/2 sequence headers and H.264 sequence parameter sets.
#include "mpeg/picturerate.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

constexpr int64_t kTicksPerSecond = 90000;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr int kH264SpsType = 7;

// Reads the bits of an H.264 NAL unit's payload with its emulation prevention bytes removed.
class CBitReader {
public:
    explicit CBitReader(std::span<const unsigned char> escaped) {
        int zeros = 0;
        for (const unsigned char byte : escaped) {
            if (zeros >= 2 && byte == 0x03) {
                zeros = 0;
                continue;
            }
            zeros = byte == 0 ? zeros + 1 : 0;
            m_bytes.push_back(byte);
        }
    }

    bool Ok() const { return m_bOk; }

    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_nBit >= m_bytes.size() * 8) {
                m_bOk = false;
                return 0;
            }
            value = value << 1 | ((m_bytes[m_nBit / 8] >> (7 - m_nBit % 8)) & 1);
            ++m_nBit;
        }
        return value;
    }

    // Exp-Golomb codes; a code longer than 32 bits is no SPS field.
    uint32_t Unsigned() {
        int zeros = 0;
        while (m_bOk && Bits(1) == 0) {
            if (++zeros > 31) {
                m_bOk = false;
                return 0;
            }
        }
        return zeros == 0 ? 0 : (uint32_t{1} << zeros) - 1 + Bits(zeros);
    }
    int32_t Signed() {
        const uint32_t code = Unsigned();
        return (code & 1) != 0 ? static_cast<int32_t>((code + 1) / 2)
                               : -static_cast<int32_t>(code / 2);
    }

private:
    std::vector<unsigned char> m_bytes;
    size_t m_nBit = 0;
    bool m_bOk = true;
};

void SkipScalingList(CBitReader& bits, int size) {
    int last = 8;
    int next = 8;
    for (int i = 0; i < size && bits.Ok(); ++i) {
        if (next != 0) {
            next = (last + bits.Signed() + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

}  // namespace

int64_t CPictureRate::MpegSequenceTicks(std::span<const unsigned char> header) {
    if (header.size() < 4) {
        return 0;
    }
    // frame_rate_code: 24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001, 60.
    static constexpr int64_t kTicks[9] = {0, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
    const int code = header[3] & 0x0F;
    return code < 9 ? kTicks[code] : 0;
}

int64_t CPictureRate::H264SpsTicks(std::span<const unsigned char> sps) {
    // An SPS is a few dozen bytes, a few hundred with scaling lists: the rest of the payload
    // is not copied for each candidate.
    constexpr size_t kLongestSps = 1024;
    CBitReader bits(sps.first(std::min(sps.size(), kLongestSps)));
    const uint32_t profile = bits.Bits(8);
    // Only the profiles there are: an MPEG-2 slice start code can look like an SPS's.
    static constexpr uint32_t kProfiles[] = {66, 77, 88,  100, 110, 122, 244, 44,
                                             83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kProfiles), std::end(kProfiles), profile) == std::end(kProfiles)) {
        return 0;
    }
    bits.Bits(16);  // constraint flags, level
    bits.Unsigned();
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
        profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
        profile == 139 || profile == 134 || profile == 135) {
        const uint32_t chroma = bits.Unsigned();
        if (chroma == 3) {
            bits.Bits(1);
        }
        bits.Unsigned();
        bits.Unsigned();
        bits.Bits(1);
        if (bits.Bits(1) != 0) {
            for (int i = 0; i < (chroma == 3 ? 12 : 8) && bits.Ok(); ++i) {
                if (bits.Bits(1) != 0) {
                    SkipScalingList(bits, i < 6 ? 16 : 64);
                }
            }
        }
    }
    bits.Unsigned();  // log2_max_frame_num_minus4
    const uint32_t orderType = bits.Unsigned();
    if (orderType == 0) {
        bits.Unsigned();
    } else if (orderType == 1) {
        bits.Bits(1);
        bits.Signed();
        bits.Signed();
        const uint32_t cycle = bits.Unsigned();
        for (uint32_t i = 0; i < cycle && bits.Ok(); ++i) {
            bits.Signed();
        }
    }
    bits.Unsigned();  // max_num_ref_frames
    bits.Bits(1);
    bits.Unsigned();
    bits.Unsigned();
    if (bits.Bits(1) == 0) {  // frame_mbs_only_flag
        bits.Bits(1);
    }
    bits.Bits(1);
    if (bits.Bits(1) != 0) {  // frame_cropping_flag
        for (int i = 0; i < 4; ++i) {
            bits.Unsigned();
        }
    }
    if (bits.Bits(1) == 0) {  // vui_parameters_present_flag
        return 0;
    }
    if (bits.Bits(1) != 0 && bits.Bits(8) == 255) {  // aspect ratio, extended SAR
        bits.Bits(16);
        bits.Bits(16);
    }
    if (bits.Bits(1) != 0) {  // overscan
        bits.Bits(1);
    }
    if (bits.Bits(1) != 0) {  // video signal type
        bits.Bits(4);
        if (bits.Bits(1) != 0) {
            bits.Bits(24);
        }
    }
    if (bits.Bits(1) != 0) {  // chroma location
        bits.Unsigned();
        bits.Unsigned();
    }
    if (bits.Bits(1) == 0) {  // timing_info_present_flag
        return 0;
    }
    const uint32_t unitsInTick = bits.Bits(32);
    const uint32_t timeScale = bits.Bits(32);
    if (!bits.Ok() || unitsInTick == 0 || timeScale == 0) {
        return 0;
    }
    // A frame is two ticks of the SPS clock.
    const int64_t ticks = 2 * int64_t{unitsInTick} * kTicksPerSecond / timeScale;
    // Rates a recording can have: 1 to 300 pictures a second.
    return ticks >= kTicksPerSecond / 300 && ticks <= kTicksPerSecond ? ticks : 0;
}

int64_t CPictureRate::FindPictureTicks(std::span<const unsigned char> payload) {
    // Sequence headers first: a slice of MPEG video may start like an SPS.
    for (const bool mpeg : {true, false}) {
        for (size_t i = 0; i + 4 < payload.size(); ++i) {
            if (payload[i] != 0 || payload[i + 1] != 0 || payload[i + 2] != 1) {
                continue;
            }
            const uint8_t code = payload[i + 3];
            const std::span<const unsigned char> after = payload.subspan(i + 4);
            int64_t ticks = 0;
            if (mpeg && code == kSequenceHeader) {
                ticks = MpegSequenceTicks(after);
            } else if (!mpeg && (code & 0x1F) == kH264SpsType && (code & 0x80) == 0) {
                ticks = H264SpsTicks(after);
            }
            if (ticks > 0) {
                return ticks;
            }
        }
    }
    return 0;
}
