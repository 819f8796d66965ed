#include "download/firmware_image.h"

#include "download/download_host.h"
#include "download/image_allocator.h"
#include "link/progress_log.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for buffered binary reading, but only a regular file: a FIFO would block
// the window for ever and a directory has no image to read.
File open_regular_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    File file(::fdopen(fd, "rb"));
    if (!file) ::close(fd);
    return file;
}

}  // namespace

bool allocate_image(FirmwareImage& image) {
    image.bytes.reset(allocate_image_block(IMAGE_BUFFER_SIZE));
    if (!image.bytes) {
        log_line("Memory allocation error");
        return false;
    }
    return true;
}

bool load_image(FirmwareImage& image, DownloadHost& host) {
    if (!image.bytes) return false;
    const std::optional<std::string> path = host.choose_image_file();
    if (!path) return false;
    File file = open_regular_file(path->c_str());
    if (!file) return false;

    // The read that meets the end of the file stores and counts one byte too, so the
    // count runs one past the file's length; a file that reaches the limit is too long.
    std::uint32_t count = 0;
    while (!std::feof(file.get()) && count < IMAGE_READ_LIMIT) {
        image.bytes[count] = static_cast<unsigned char>(std::fgetc(file.get()) & 0xFF);
        ++count;
    }
    file.reset();

    if (count <= 1 || count >= IMAGE_READ_LIMIT) return false;
    image.length = count - 1;
    return true;
}

void free_image(FirmwareImage& image) { image.bytes.reset(); }

}  // namespace quillon
