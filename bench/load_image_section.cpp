// load_image of the largest file the program accepts, from a file in the page cache.
#include "download/download_host.h"
#include "download/firmware_image.h"
#include "download_rig.h"
#include "monotonic.h"
#include "samples.h"
#include "sections.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace quillon::bench {
namespace {

// A chooser that answers at once with one path.
class FixedChoice final : public DownloadHost {
public:
    explicit FixedChoice(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> choose_image_file() override { return path_; }
    void show_usb_status() override {}
    void dispatch_pending_events() override {}
    bool terminating() const override { return false; }
    void beep() override {}

private:
    std::string path_;
};

}  // namespace

void load_image_section(const Settings& settings) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("image.bin"));
    const std::vector<std::uint8_t> bytes = image_bytes(LARGEST_IMAGE);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();

    FixedChoice host(QFile::encodeName(path).toStdString());
    Samples load_us;
    bool all_read = true;
    for (int i = 0; i < settings.load_runs + 1; ++i) {
        FirmwareImage image;
        allocate_image(image);
        const std::int64_t start = monotonic_ns();
        const bool loaded = load_image(image, host);
        const double us = us_since(start);
        all_read = all_read && loaded && image.length == LARGEST_IMAGE &&
                   std::equal(bytes.begin(), bytes.end(), image.bytes.get());
        if (i > 0) load_us.add(us);  // the first one warms the page cache
        free_image(image);
    }

    std::printf("\n== load_image of the largest file (%u bytes), page cache warm\n", LARGEST_IMAGE);
    std::printf("   %d loads after one warm-up, each timed from the call to its return\n",
                settings.load_runs);
    std::printf("   load_image                          %s%s\n", load_us.spread("ms", 1000, 2).c_str(),
                all_read ? "" : "   !! image read wrong");
    std::printf("   that is %.0f MB/s at the median\n",
                LARGEST_IMAGE / load_us.median());
}

}  // namespace quillon::bench
