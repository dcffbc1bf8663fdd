// Copies ten ranges of a source into ten outputs, each behind a 2,048-byte header, so that the
// source and output positions differ by other than whole pages (what a split's pieces meet),
// with each way the kernel offers: copy_file_range, pread/pwrite through a buffer, mmap of the
// source and write, and splice through a pipe. The methods take turns, in a rotating order, for
// a number of rounds; every round starts from a warm cache with the previous outputs removed.
// Prints each method's median time and its median ratio to copy_file_range in the same round,
// and fails if any method's bytes differ from the others'.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kPieces = 10;
constexpr size_t kHeaderBytes = 2048;
constexpr size_t kBufferBytes = size_t{1} << 20;
constexpr size_t kWindowBytes = size_t{32} << 20;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "copymethods: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

using Method = std::function<void(int from, off_t at, int to, size_t count)>;

void CopyFileRange(int from, off_t at, int to, size_t count) {
    while (count > 0) {
        const ssize_t moved = ::copy_file_range(from, &at, to, nullptr, count, 0);
        if (moved <= 0) {
            Fail("copy_file_range");
        }
        count -= static_cast<size_t>(moved);
    }
}

void ReadWrite(int from, off_t at, int to, size_t count) {
    static std::vector<char> buffer(kBufferBytes);
    while (count > 0) {
        const ssize_t got = ::pread(from, buffer.data(), std::min(count, kBufferBytes), at);
        if (got <= 0) {
            Fail("pread");
        }
        if (::write(to, buffer.data(), static_cast<size_t>(got)) != got) {
            Fail("write");
        }
        at += got;
        count -= static_cast<size_t>(got);
    }
}

void MapWrite(int from, off_t at, int to, size_t count) {
    static const auto page = static_cast<off_t>(::sysconf(_SC_PAGESIZE));
    while (count > 0) {
        const off_t base = at - at % page;
        const size_t lead = static_cast<size_t>(at - base);
        const size_t take = std::min(count, kWindowBytes);
        void* map = ::mmap(nullptr, lead + take, PROT_READ, MAP_SHARED, from, base);
        if (map == MAP_FAILED) {
            Fail("mmap");
        }
        ::madvise(map, lead + take, MADV_SEQUENTIAL);
        const char* bytes = static_cast<const char*>(map) + lead;
        size_t left = take;
        while (left > 0) {
            const ssize_t out = ::write(to, bytes + (take - left), left);
            if (out <= 0) {
                Fail("write");
            }
            left -= static_cast<size_t>(out);
        }
        ::munmap(map, lead + take);
        at += static_cast<off_t>(take);
        count -= take;
    }
}

void Splice(int from, off_t at, int to, size_t count) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        Fail("pipe2");
    }
    const int size = std::max(::fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20), 1 << 16);
    while (count > 0) {
        const ssize_t in = ::splice(from, &at, pipeFds[1], nullptr,
                                    std::min(count, static_cast<size_t>(size)), SPLICE_F_MOVE);
        if (in <= 0) {
            Fail("splice in");
        }
        for (ssize_t pending = in; pending > 0;) {
            const ssize_t out =
                ::splice(pipeFds[0], nullptr, to, nullptr, static_cast<size_t>(pending), 0);
            if (out <= 0) {
                Fail("splice out");
            }
            pending -= out;
        }
        count -= static_cast<size_t>(in);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

uint64_t Fingerprint(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail("open output");
    }
    std::vector<unsigned char> buffer(kBufferBytes);
    uint64_t hash = 1469598103934665603ULL;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            Fail("read output");
        }
        if (got == 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            hash = (hash ^ buffer[static_cast<size_t>(i)]) * 1099511628211ULL;
        }
    }
    ::close(fd);
    return hash;
}

void WarmCache(int from, off_t size) {
    std::vector<char> buffer(kBufferBytes);
    for (off_t at = 0; at < size;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got <= 0) {
            Fail("pread");
        }
        at += got;
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SOURCE OUTPUT_DIR [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const int from = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (from < 0 || ::fstat(from, &info) != 0) {
        Fail("open source");
    }
    const off_t size = info.st_size;
    const std::array<const char*, 4> names{"copy_file_range", "pread/pwrite", "mmap+write",
                                           "splice"};
    const std::array<Method, 4> methods{CopyFileRange, ReadWrite, MapWrite, Splice};
    std::array<std::vector<double>, 4> times;
    std::array<std::vector<double>, 4> ratios;
    std::array<uint64_t, 4> prints{};
    std::array<char, kHeaderBytes> header{};
    for (int round = 0; round < rounds; ++round) {
        std::array<double, 4> took{};
        for (size_t turn = 0; turn < methods.size(); ++turn) {
            const size_t m = (turn + static_cast<size_t>(round)) % methods.size();
            for (int k = 0; k < kPieces; ++k) {
                ::unlink((folder + "/piece_" + std::to_string(k)).c_str());
            }
            ::sync();
            WarmCache(from, size);
            const auto begun = std::chrono::steady_clock::now();
            for (int k = 0; k < kPieces; ++k) {
                // Piece k starts one pack (2,048 bytes) into its share: its position and the
                // output's, 2,048 bytes in, differ by half a page.
                const off_t start = size / kPieces * k + (k == 0 ? 0 : 2048) + 1024;
                const off_t end = k == kPieces - 1 ? size : size / kPieces * (k + 1) + 1024;
                const std::string path = folder + "/piece_" + std::to_string(k);
                const int to = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (to < 0 || ::write(to, header.data(), header.size()) != kHeaderBytes) {
                    Fail("output");
                }
                methods[m](from, start, to, static_cast<size_t>(end - start));
                if (::close(to) != 0) {
                    Fail("close");
                }
            }
            took[m] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
            uint64_t print = 0;
            for (int k = 0; k < kPieces; ++k) {
                print = print * 31 + Fingerprint(folder + "/piece_" + std::to_string(k));
            }
            if (round == 0) {
                prints[m] = print;
            } else if (prints[m] != print) {
                std::fprintf(stderr, "copymethods: %s wrote other bytes\n", names[m]);
                return 1;
            }
        }
        for (size_t m = 0; m < methods.size(); ++m) {
            times[m].push_back(took[m]);
            ratios[m].push_back(took[m] / took[0]);
        }
    }
    for (size_t m = 1; m < methods.size(); ++m) {
        if (prints[m] != prints[0]) {
            std::fprintf(stderr, "copymethods: %s wrote other bytes than %s\n", names[m], names[0]);
            return 1;
        }
    }
    std::printf(
        "misaligned ranges (10 pieces, %d rounds, warm cache): median seconds, median "
        "ratio to copy_file_range [min-max]\n",
        rounds);
    for (size_t m = 0; m < methods.size(); ++m) {
        const auto [low, high] = std::minmax_element(ratios[m].begin(), ratios[m].end());
        std::printf("  %-16s %.3f s  %.3f [%.3f-%.3f]\n", names[m], Median(times[m]),
                    Median(ratios[m]), *low, *high);
    }
    return 0;
}
