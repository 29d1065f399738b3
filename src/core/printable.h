// Text from a file or a file name made safe to print in one diagnostic line.
#pragma once

#include <string>
#include <string_view>

namespace mv {

// `text` with every byte that could act on a terminal or break the line
// written as \xHH: control characters (a line feed and an escape among them),
// DEL, the C1 controls U+0080 to U+009F, and every byte that is not part of
// valid UTF-8.  Printable ASCII and valid UTF-8 characters stay as they are.
std::string printable(std::string_view text);

}  // namespace mv
