#include "outputs/places.hpp"

#include "outputs/folder.hpp"
#include "support/file_system.hpp"

namespace vexmira::outputs {
namespace {

std::string_view Separators(PathStyle style) { return style == PathStyle::Windows ? "/\\" : "/"; }

// The parts of `path` between its separators, empty ones left out.
std::vector<std::string> Parts(std::string_view path, PathStyle style) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(Separators(style), start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Every '%' becomes "%25" first, so that no escape below can meet a name
// that was written that way already.
std::string Escaped(const std::string& part, PathStyle style) {
    std::string escaped;
    for (const char c : part) {
        if (c == '%') {
            escaped += "%25";
        } else if (c == ':' && style == PathStyle::Windows) {
            escaped += "%3A";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

std::string Joined(const std::string& folder, const std::string& name, PathStyle style) {
    const std::string_view separators = Separators(style);
    if (folder.empty() || separators.find(folder.back()) != std::string_view::npos) return folder + name;
    return folder + separators.back() + name;
}

std::vector<std::string> OutputParts(const std::string& input, const std::string& suffix, PathStyle style) {
    constexpr std::string_view kUp = "%2E%2E";
    std::vector<std::string> parts;
    // Standard input has no name of its own: its outputs are named "stdin...".
    const std::string& named = input == support::kStandardInputName ? std::string(kStandardInputOutputName) : input;
    for (std::string& part : Parts(named, style)) {
        if (part == "..") {
            if (!parts.empty() && parts.back() != kUp) {
                parts.pop_back();
            } else {
                parts.emplace_back(kUp);
            }
        } else if (part != ".") {
            parts.push_back(Escaped(part, style));
        }
    }
    if (parts.empty()) parts.emplace_back();
    parts.back() += suffix;
    return parts;
}

std::string OutputPathFor(const std::string& outputDir, const std::string& input, const std::string& suffix,
                          PathStyle style) {
    std::string path = outputDir;
    for (const std::string& part : OutputParts(input, suffix, style)) path = Joined(path, part, style);
    return path;
}

FolderAndName SplitPath(const std::string& path, PathStyle style) {
    std::size_t slash = path.find_last_of(Separators(style));
    if (slash == std::string::npos && style == PathStyle::Windows && path.size() >= 2 && path[1] == ':') {
        slash = 1;  // "C:x.exe": the drive's current folder
    }
    if (slash == std::string::npos) return {".", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

void MakeOutputFolder(const std::string& outputDir) {
    // The longest leading part that exists; the rest is made below it, step
    // by step, without following a link.
    std::string base = outputDir;
    std::vector<std::string> missing;
    while (!base.empty() && !support::PathExists(base)) {
        const std::size_t cut = base.find_last_of(Separators(kNativePathStyle));
        if (cut == std::string::npos) {
            missing.insert(missing.begin(), base);
            base.clear();
            break;
        }
        missing.insert(missing.begin(), base.substr(cut + 1));
        base.resize(cut == 0 ? 1 : cut);
    }
    std::erase_if(missing, [](const std::string& part) { return part.empty() || part == "."; });
    Folder::Open(base.empty() ? "." : base, outputDir).Below(missing, outputDir);
}

}  // namespace vexmira::outputs
