#include <string>
#include <string_view>

#include "support/file_system.hpp"

namespace vexmira::support {
namespace {

std::string FileErrorMessage(std::string_view prefix, const std::string& path, std::string_view reason) {
    std::string message(prefix);
    message += '"';
    message += AbsolutePath(path);
    message += "\". ";
    message += reason;
    return message;
}

}  // namespace

std::string TrimSystemMessage(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

std::string OpenErrorMessage(const std::string& path, std::string_view reason) {
    return FileErrorMessage("Cannot open file ", path, reason);
}

std::string CreateErrorMessage(const std::string& path, std::string_view reason) {
    return FileErrorMessage("Cannot create file ", path, reason);
}

std::string StandardInputErrorMessage(std::string_view what, std::string_view reason) {
    return "Cannot " + std::string(what) + " standard input (\"" + std::string(kStandardInputName) + "\"). " +
           std::string(reason);
}

}  // namespace vexmira::support
