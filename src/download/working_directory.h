#pragma once
// The process's current working directory, which the file chooser may change.
#include <optional>
#include <string>

namespace quillon {

// The current working directory, however long; nothing when it cannot be read
// (removed, or a parent not searchable).
std::optional<std::string> current_directory();
// Makes `path` the working directory again; false when that is refused.
bool change_directory(const std::string& path);

}  // namespace quillon
