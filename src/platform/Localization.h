#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vistamo {

// The texts shown to the user, by key, from the table "en.strings" in the resource folder.
//
// The table is UTF-8 text, one entry per line: `KEY = text`. The key ends at the first " = ";
// in the text, `\n` stands for a line break and `\\` for a backslash. Blank lines and lines
// starting with '#' are skipped, and so is any line without " = ".
//
// Read once, on first use; any thread.
std::string localizedString(std::string_view key, std::string_view defaultText = {});

// The entries of a table's text, as `localizedString` reads them.
std::map<std::string, std::string, std::less<>> parseStringsTable(std::string_view text);

}  // namespace vistamo
