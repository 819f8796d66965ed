#pragma once
// The bench for the download and reset tests: a TR-518 on a simulated bus, the program's
// clock recording every wait it asks for, a log that keeps every line, a scripted window
// and a folder for image files. `Bench bench;` builds it all.
#include "download/download_host.h"
#include "download/image_allocator.h"
#include "link/instrument_link.h"
#include "sim/sim_usb.h"
#include "sim/virtual_clock.h"
#include "support/recording_log.h"
#include "support/sim_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillon::testing {

// The window as the download sees it: answers the chooser, counts what it was asked.
class FakeHost final : public DownloadHost {
public:
    explicit FakeHost(const RecordingLog& log) : log_(log) {}

    std::optional<std::string> choose_image_file() override {
        ++chooser_shown;
        if (on_choose) on_choose();
        return chosen_path;
    }
    void show_usb_status() override { ++status_shown; }
    void dispatch_pending_events() override {
        ++dispatches;
        if (on_dispatch) on_dispatch(dispatches);
    }
    bool terminating() const override {
        return terminate_after >= 0 && dispatches >= terminate_after;
    }
    void beep() override {
        beeps_at.push_back(log_.lines.size());
        if (on_beep) on_beep();
    }

    std::optional<std::string> chosen_path;  // nothing: the user cancels the chooser
    int terminate_after = -1;                // the window closes after this many dispatches
    std::function<void()> on_choose;
    std::function<void(int)> on_dispatch;    // called with the number of dispatches so far
    std::function<void()> on_beep;

    int chooser_shown = 0;
    int status_shown = 0;
    int dispatches = 0;
    std::vector<std::size_t> beeps_at;  // number of log lines at each beep

private:
    const RecordingLog& log_;
};

// A scratch folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return (path_ / name).string(); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        const std::string file = path(name);
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    std::string make_fifo(const std::string& name) const {
        const std::string file = path(name);
        if (::mkfifo(file.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo failed";
        return file;
    }
    std::string make_dir(const std::string& name) const {
        const std::string dir = path(name);
        std::filesystem::create_directory(dir);
        return dir;
    }

private:
    std::filesystem::path path_;
};

// Puts the test process's working directory back, whatever a test did to it.
class WorkingDirectoryGuard {
public:
    WorkingDirectoryGuard() : saved_(std::filesystem::current_path()) {}
    ~WorkingDirectoryGuard() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

// Installs an image allocator for one scope.
class ScopedImageAllocator {
public:
    explicit ScopedImageAllocator(ImageAllocator allocator)
        : previous_(set_image_allocator(allocator)) {}
    ~ScopedImageAllocator() { set_image_allocator(previous_); }

private:
    ImageAllocator previous_;
};

inline unsigned char* refuse_allocation(std::size_t) { return nullptr; }

inline sim::InstrumentConfig tr518() { return {}; }

inline sim::InstrumentConfig model(const std::string& product) {
    sim::InstrumentConfig config;
    config.product = product;
    return config;
}

struct Bench : SimRig {
    // One instrument with its power button held (nothing on the bus for std::nullopt).
    explicit Bench(std::optional<sim::InstrumentConfig> config = tr518()) {
        if (config) usb.add_instrument(bus, *config).set_power_button(true);
    }

    sim::SimInstrument& instrument() { return usb.instrument(); }

    // The user picks a file of these bytes.
    void choose(const std::vector<std::uint8_t>& bytes, const std::string& name = "image.bin") {
        host.chosen_path = files.write(name, bytes);
    }

    // Command codes of the control transfers made, in order.
    std::vector<int> commands() const {
        std::vector<int> codes;
        for (const sim::Call& call : usb.calls_named("usb_control_msg")) {
            codes.push_back(call.data.empty() ? -1 : call.data[0]);
        }
        return codes;
    }

    int bus = usb.add_bus();
    FakeHost host{log};
    TempDir files;
};

// Image bytes that hold 0x00 and 0xFF, the value of the end-of-file read among them.
inline std::vector<std::uint8_t> image_bytes(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(0xFF - i * 37);
    return bytes;
}

inline std::vector<std::string> dots(int n) { return std::vector<std::string>(n, "."); }

inline std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline std::vector<int> join(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline std::vector<int> repeat(std::size_t n, std::vector<int> what) {
    std::vector<int> all;
    for (std::size_t i = 0; i < n; ++i) all.insert(all.end(), what.begin(), what.end());
    return all;
}

inline std::string show(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}
inline std::string show(int n) { return std::to_string(n); }

// Equal sequences, or a message naming the first place where they part.
template <typename T>
::testing::AssertionResult same(const std::vector<T>& actual, const std::vector<T>& expected) {
    const std::size_t n = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (!(actual[i] == expected[i])) {
            return ::testing::AssertionFailure()
                   << "first difference at [" << i << "]: got " << show(actual[i])
                   << ", expected " << show(expected[i]);
        }
    }
    if (actual.size() != expected.size()) {
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        failure << "got " << actual.size() << " entries, expected " << expected.size();
        if (actual.size() > n) failure << "; first extra: " << show(actual[n]);
        if (expected.size() > n) failure << "; first missing: " << show(expected[n]);
        return failure;
    }
    return ::testing::AssertionSuccess();
}

// The last `n` entries (all of them when there are fewer).
template <typename T>
std::vector<T> last(const std::vector<T>& all, std::size_t n) {
    return std::vector<T>(all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())),
                          all.end());
}

// A test name from a case's description.
inline std::string test_name(std::string name) {
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
}

// --- the waits the download asks for, step by step
inline const std::vector<int> kOpenWaits = {150};                // one device found
inline const std::vector<int> kEmptyRetryWaits = {5000, 5000};   // a retry finding nothing
inline const std::vector<int> kCountdownWaits = {1000, 200, 1000, 1000, 1000};
inline const std::vector<int> kReleaseWaits = {100, 100};
inline const std::vector<int> kReconnectWaits = {1000, 150};     // back at the first attempt
inline const std::vector<int> kEraseWaits = {100, 800};
inline const std::vector<int> kWriteCommandWaits = {10};
inline const std::vector<int> kFinalResetWaits = {500};

// 1 ms after every packet, 2 ms at the end.
inline std::vector<int> transfer_waits(std::uint32_t n) {
    std::vector<int> waits(n / 64 + (n % 64 ? 1 : 0), 1);
    waits.push_back(2);
    return waits;
}

inline std::vector<int> full_run_waits(std::uint32_t n, std::vector<int> pre_dump = {}) {
    return join({kOpenWaits, pre_dump, kCountdownWaits, kReleaseWaits, kReconnectWaits,
                 kEraseWaits, kWriteCommandWaits, transfer_waits(n), kFinalResetWaits});
}

inline const std::vector<std::string> kCountdownLines = {"HOLD DOWN POWER BUTTON NOW!!!", "3",
                                                         "2", "1",
                                                         "You can release the power button."};

// Every line of a quiet download that succeeds, with the progress marks it writes.
inline std::vector<std::string> quiet_run_lines(int marks) {
    return join({{"Instrument opened."}, kCountdownLines,
                 {".", "Instrument opened.", "Erasing flash.", "Writing flash."}, dots(marks),
                 {" ", "Reset sent.", "Leaving OPEN"}});
}

}  // namespace quillon::testing
