#include "download/working_directory.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace quillon {

std::optional<std::string> current_directory() {
    std::vector<char> buffer(256);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

bool change_directory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

}  // namespace quillon
