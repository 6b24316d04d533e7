#include "support/path.hpp"

namespace vexmira::support {

std::string_view ExtractFileExt(std::string_view path) {
    const std::size_t dot = path.find_last_of(".\\:");
    if (dot == std::string_view::npos || path[dot] != '.') return {};
    return path.substr(dot);
}

bool IsArcPath(std::string_view path) { return ExtractFileExt(path) == ".ARC"; }

std::string SideFilePath(std::string_view path) { return std::string(path) + "$$$"; }

}  // namespace vexmira::support
