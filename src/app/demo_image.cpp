// Writes the demo's sample firmware image: a vector table and a recognisable body, so the
// flash read-back after a download shows what was written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE LENGTH\n", argv[0]);
        return 2;
    }
    const long length = std::strtol(argv[2], nullptr, 10);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::uint32_t state = 0x2A5E1C07;
    for (long i = 0; i < length; ++i) {
        std::uint8_t byte;
        if (i < 8) {
            // Initial stack pointer and reset vector, as at the start of an application.
            static const std::uint8_t vectors[8] = {0x00, 0x50, 0x00, 0x20,
                                                    0x01, 0x41, 0x00, 0x08};
            byte = vectors[i];
        } else {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        std::fputc(byte, file);
    }
    return std::fclose(file) == 0 ? 0 : 1;
}
