#pragma once
// Path texts as the dialog and the command-line tool decide on them.

#include <string>
#include <string_view>

namespace vexmira::support {

// The text from the last '.' that has no '\' or ':' after it; empty when there is none.
std::string_view ExtractFileExt(std::string_view path);

// True when the extension is exactly ".ARC" (case-sensitive): such a file is
// listed directly; anything else goes through the locator.
bool IsArcPath(std::string_view path);

// The side file the locator writes: the whole input path with "$$$" appended.
std::string SideFilePath(std::string_view path);

}  // namespace vexmira::support
