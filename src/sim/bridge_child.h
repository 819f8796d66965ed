#pragma once
// The command the bridge serves: started with the umockdev preload, waited for.
#include <string>
#include <utility>
#include <vector>

namespace quillon::sim {

class BridgeChild {
public:
    // Starts `command` with `environment` set on top of the bridge's own. It dies with
    // the bridge. False, with the reason, when it could not be started.
    bool start(const std::vector<std::string>& command,
               const std::vector<std::pair<std::string, std::string>>& environment,
               std::string& why);
    // True once it has ended; `status` is then its exit code, or 128 + the signal.
    bool ended(int& status);
    // Passes a signal on, so that the bridge can still clean up after the child.
    void signal(int number);

private:
    int pid_ = -1;
};

// The umockdev preload for a child: ours in front of any it already has, and ASan told
// that it no longer comes first.
std::vector<std::pair<std::string, std::string>> preload_environment(const std::string& preload);

}  // namespace quillon::sim
