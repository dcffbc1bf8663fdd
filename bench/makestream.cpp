// Writes a synthetic MPEG program stream for benchmarks: a pack start code every 2,048 bytes
// (the first pack is the 2,048-byte header) with filler that never forms another start code.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PATH BYTES\n", argv[0]);
        return 2;
    }
    const long long size = std::atoll(argv[2]);
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || size <= 0) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr size_t kChunk = size_t{1} << 20;  // a multiple of the pack size
    std::vector<unsigned char> chunk(kChunk);
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < kChunk; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        chunk[i] = static_cast<unsigned char>(0x10 + state % 0xE0);
    }
    for (size_t at = 0; at < kChunk; at += 2048) {
        chunk[at] = 0x00;
        chunk[at + 1] = 0x00;
        chunk[at + 2] = 0x01;
        chunk[at + 3] = 0xBA;
    }
    for (long long written = 0; written < size;) {
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
