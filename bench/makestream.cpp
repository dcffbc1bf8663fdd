// Writes a synthetic MPEG program stream for benchmarks: a pack start code every 2,048 bytes
// (the first pack is the 2,048-byte header) with filler that never forms another start code.
// With "one-key", the packs carry MPEG video with a clock instead: one I picture at the start,
// then only P pictures (40 ms and 20 packs each), so no piece can start cleanly after the
// first picture.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kPack = 2048;
constexpr int kPacksPerPicture = 20;
constexpr int64_t kPictureTicks = 3600;  // 25 pictures a second, in 90 kHz units
constexpr uint32_t kMuxRate = 20480;     // 50-byte units: 2,048 bytes every 2 ms

void PutStamp(unsigned char* at, unsigned prefix, int64_t ticks) {
    at[0] = static_cast<unsigned char>(prefix << 4 | ((ticks >> 29) & 0x0E) | 1);
    at[1] = static_cast<unsigned char>(ticks >> 22);
    at[2] = static_cast<unsigned char>(((ticks >> 14) & 0xFE) | 1);
    at[3] = static_cast<unsigned char>(ticks >> 7);
    at[4] = static_cast<unsigned char>(((ticks << 1) & 0xFE) | 1);
}

// An MPEG-2 pack header with its clock.
void PutPackHeader(unsigned char* at, int64_t scr) {
    at[0] = 0x00, at[1] = 0x00, at[2] = 0x01, at[3] = 0xBA;
    at[4] = static_cast<unsigned char>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03));
    at[5] = static_cast<unsigned char>(scr >> 20);
    at[6] = static_cast<unsigned char>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03));
    at[7] = static_cast<unsigned char>(scr >> 5);
    at[8] = static_cast<unsigned char>(((scr << 3) & 0xF8) | 0x04);
    at[9] = 0x01;
    at[10] = static_cast<unsigned char>(kMuxRate >> 14);
    at[11] = static_cast<unsigned char>(kMuxRate >> 6);
    at[12] = static_cast<unsigned char>((kMuxRate << 2) | 0x03);
    at[13] = 0xF8;
}

// Pack `index` of the one-key stream, filled from `filler`.
void MakeVideoPack(unsigned char* pack, int64_t index, const unsigned char* filler) {
    const int64_t picture = index / kPacksPerPicture;
    const bool opens = index % kPacksPerPicture == 0;
    PutPackHeader(pack, 9000 + index * (kPictureTicks / kPacksPerPicture));
    unsigned char* packet = pack + 14;
    const size_t length = kPack - 14 - 6;
    packet[0] = 0x00, packet[1] = 0x00, packet[2] = 0x01, packet[3] = 0xE0;
    packet[4] = static_cast<unsigned char>(length >> 8);
    packet[5] = static_cast<unsigned char>(length & 0xFF);
    packet[6] = 0x81;
    packet[7] = opens ? 0x80 : 0x00;
    packet[8] = opens ? 5 : 0;
    unsigned char* payload = packet + 9;
    if (opens) {
        PutStamp(payload, 2, 45000 + picture * kPictureTicks);
        payload += 5;
    }
    const size_t room = static_cast<size_t>(pack + kPack - payload);
    std::memcpy(payload, filler, room);
    if (!opens) {
        return;
    }
    std::vector<unsigned char> codes;
    if (picture == 0) {
        // Sequence header (352x288, 25 fps) and a closed group.
        codes = {0,    0,    1, 0xB3, 0x16, 0x01, 0x20, 0x23, 0xFF, 0xFF,
                 0xE0, 0xA0, 0, 0,    1,    0xB8, 0x00, 0x08, 0x00, 0x40};
    }
    const unsigned type = picture == 0 ? 1 : 2;
    const unsigned char header[] = {
        0,    0,    1, 0x00, 0x00, static_cast<unsigned char>(type << 3 | 0x07),
        0xFF, 0xF8, 0, 0,    1,    0x01};
    codes.insert(codes.end(), std::begin(header), std::end(header));
    std::memcpy(payload, codes.data(), codes.size());
}

}  // namespace

int main(int argc, char** argv) {
    const bool oneKey = argc == 4 && std::strcmp(argv[3], "one-key") == 0;
    if (argc != 3 && !oneKey) {
        std::fprintf(stderr, "usage: %s PATH BYTES [one-key]\n", argv[0]);
        return 2;
    }
    const long long size = std::atoll(argv[2]);
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || size <= 0) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr size_t kChunk = size_t{1} << 20;  // a multiple of the pack size
    std::vector<unsigned char> filler(kChunk);
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < kChunk; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        filler[i] = static_cast<unsigned char>(0x10 + state % 0xE0);
    }
    std::vector<unsigned char> chunk = filler;
    for (size_t at = 0; at < kChunk; at += kPack) {
        chunk[at] = 0x00;
        chunk[at + 1] = 0x00;
        chunk[at + 2] = 0x01;
        chunk[at + 3] = 0xBA;
    }
    for (long long written = 0; written < size;) {
        if (oneKey) {
            const auto first = static_cast<int64_t>(written / static_cast<long long>(kPack));
            for (size_t at = 0; at < kChunk; at += kPack) {
                MakeVideoPack(chunk.data() + at, first + static_cast<int64_t>(at / kPack),
                              filler.data() + at);
            }
        }
        const long long left = size - written;
        const size_t count =
            left < static_cast<long long>(kChunk) ? static_cast<size_t>(left) : kChunk;
        const ssize_t put = ::write(fd, chunk.data(), count);
        if (put <= 0) {
            std::perror("write");
            return 1;
        }
        written += put;
    }
    if (::close(fd) != 0) {
        std::perror("close");
        return 1;
    }
    return 0;
}
