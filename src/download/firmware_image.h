#pragma once
// The firmware image of one download: a fixed heap buffer and the length read into it.
#include <cstdint>
#include <memory>

namespace quillon {

class DownloadHost;

inline constexpr std::uint32_t IMAGE_BUFFER_SIZE = 262144;
inline constexpr std::uint32_t IMAGE_READ_LIMIT = 262143;
inline constexpr std::uint32_t IMAGE_MAX_LENGTH = IMAGE_READ_LIMIT - 2;

struct FirmwareImage {
    std::unique_ptr<unsigned char[]> bytes;
    std::uint32_t length = 0;
};

// Obtains the buffer; logs "Memory allocation error" when none is had.
bool allocate_image(FirmwareImage& image);
// Lets the user choose a file and reads it; true for an image of 1..IMAGE_MAX_LENGTH bytes.
bool load_image(FirmwareImage& image, DownloadHost& host);
void free_image(FirmwareImage& image);

}  // namespace quillon
