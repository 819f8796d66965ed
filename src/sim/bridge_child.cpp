#include "sim/bridge_child.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace quillon::sim {

namespace {

// The file that execve() would run for `name`, searched on $PATH like a shell does.
std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

}  // namespace

std::vector<std::pair<std::string, std::string>> preload_environment(const std::string& preload) {
    const char* preloads = std::getenv("LD_PRELOAD");
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asan_options = asan && *asan ? std::string(asan) + ":" : std::string();
    return {
        {"LD_PRELOAD", preload + (preloads && *preloads ? " " + std::string(preloads) : "")},
        // An instrumented client then finds the preload ahead of its runtime.
        {"ASAN_OPTIONS", asan_options + "verify_asan_link_order=0"},
    };
}

bool BridgeChild::start(const std::vector<std::string>& command,
                        const std::vector<std::pair<std::string, std::string>>& environment,
                        std::string& why) {
    const std::string program = find_program(command.at(0));
    if (program.empty()) {
        why = command[0] + ": not found";
        return false;
    }
    // Everything the child needs is built before the fork.
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [key, value] : environment) replaced = replaced || key == name;
        if (!replaced) env_text.push_back(entry);
    }
    for (const auto& [key, value] : environment) env_text.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        why = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return true;
}

void BridgeChild::signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

bool BridgeChild::ended(int& status) {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) return false;
    if (done < 0) {
        status = 127;
    } else if (WIFEXITED(raw)) {
        status = WEXITSTATUS(raw);
    } else {
        status = 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    }
    return true;
}

}  // namespace quillon::sim
