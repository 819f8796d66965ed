#pragma once
// One run of e2e_client under usbfs-bridge: the bridge's options, the client's scenario,
// and what the client reported back.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace quillon::testing {

inline constexpr int BRIDGE_SKIPS = 77;  // usbfs-bridge: umockdev cannot run here

// A scratch folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct BridgeRun {
    int exit_code = -1;
    std::vector<std::string> lines;           // the program's log, line by line
    std::map<std::string, std::string> facts;  // the client's results by name

    bool skipped() const { return exit_code == BRIDGE_SKIPS; }
    long number(const std::string& name) const {
        auto it = facts.find(name);
        if (it == facts.end()) {
            ADD_FAILURE() << "the client reported no " << name;
            return -999;
        }
        return std::strtol(it->second.c_str(), nullptr, 10);
    }
};

inline std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Runs `usbfs-bridge OPTIONS -- e2e_client REPORT SCENARIO...` and reads the report.
inline BridgeRun run_bridge(const std::vector<std::string>& options,
                            const std::vector<std::string>& scenario) {
    ScratchDir scratch;
    const std::string report = scratch.path("report");
    std::vector<std::string> args{QUILLON_BRIDGE};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--", QUILLON_E2E_CLIENT, report});
    args.insert(args.end(), scenario.begin(), scenario.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    BridgeRun run;
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return run;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::ifstream in(report);
    std::string entry;
    while (std::getline(in, entry)) {
        if (entry.rfind("log ", 0) == 0) {
            run.lines.push_back(unescaped(entry.substr(4)));
        } else if (entry.rfind("fact ", 0) == 0) {
            const std::size_t space = entry.find(' ', 5);
            run.facts[entry.substr(5, space - 5)] =
                space == std::string::npos ? "" : unescaped(entry.substr(space + 1));
        }
    }
    return run;
}

}  // namespace quillon::testing

// Ends the test as skipped when the machine cannot run umockdev; anything else must pass.
#define SKIP_WITHOUT_UMOCKDEV(run)                                                   \
    if ((run).skipped()) GTEST_SKIP() << "umockdev cannot run on this machine"; \
    ASSERT_EQ((run).exit_code, 0) << "the client or the bridge failed"
