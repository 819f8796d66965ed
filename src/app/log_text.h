#pragma once
// Log lines are 8-bit: each byte shows as its Latin-1 character in the pane and is saved
// back as the same byte.
#include <QByteArray>
#include <QString>

#include <string_view>

namespace quillon {

// A line break inside a line would split its paragraph, so LF and CR show as their
// control pictures and are turned back on saving.
inline constexpr char16_t LF_PICTURE = u'\u240A';
inline constexpr char16_t CR_PICTURE = u'\u240D';

QString to_pane_text(std::string_view line);

// The bytes of one paragraph of the pane; a character outside Latin-1 becomes '?'.
QByteArray from_pane_text(const QString& paragraph);

}  // namespace quillon
