// The one sanitiser for everything velkdesk prints to a terminal: values from customers and the
// names of the files they came in.
#pragma once

#include <string>
#include <string_view>

namespace desk {

// `text` made harmless for a terminal and for one-line output: control characters (C0, DEL, and
// the C1 range that 8-bit terminals obey as escape sequences, such as CSI and OSC) become blanks
// or "?", bidirectional overrides and isolates (which reorder what follows them on screen) "?",
// and bytes that are no UTF-8 the characters they are in Windows-1252.
std::string Printable(std::string_view text);

}  // namespace desk
