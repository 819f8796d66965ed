#pragma once
// Writing the log pane to a text file: every line as 8-bit bytes followed by CR LF.
#include <QString>

namespace quillon {

class LogPane;

// Creates `path` anew and writes the pane into it. Throws CommandFailure naming the full
// path when the file cannot be created or not every byte reached it; a file already
// created stays.
void write_log_file(const LogPane& pane, const QString& path);

}  // namespace quillon
