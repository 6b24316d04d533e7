// Any byte strings, split at 0xFF 0xFE into the names of one folder (with
// the first byte of each choosing a raw suffix): every name comes out safe
// and unique, case aside. Safe: 1 to kLongestName bytes of printable ASCII
// without / \ : * ? " < > |, every '%' starting an escape of two upper-case
// hex digits (or "%empty"), no trailing '.' or ' ', never "." or "..", no
// Windows device name before the first '.'; and the same bytes always give
// the same name.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "listing/extraction.hpp"
#include "listing/safe_names.hpp"

namespace {

using namespace vexmira;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return upper;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void CheckSafe(const std::string& name) {
    Check(!name.empty() && name.size() <= listing::kLongestName);
    Check(name != "." && name != "..");
    Check(name.back() != '.' && name.back() != ' ');
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        Check(c >= 0x20 && c <= 0x7E);
        Check(std::string_view(R"(/\:*?"<>|)").find(static_cast<char>(c)) == std::string_view::npos);
        if (c == '%') {
            const bool escape = i + 2 < name.size() && IsHex(name[i + 1]) && IsHex(name[i + 2]);
            Check(escape || name.compare(i, 6, "%empty") == 0);
        }
    }
    std::string base = Upper(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) Check(base != device);
    const bool numbered = base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' &&
                          base[3] <= '9';
    Check(!numbered);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    listing::UniqueNames names{listing::kManifestName};
    std::set<std::string> taken = {Upper(listing::kManifestName)};
    std::size_t start = 0;
    for (int count = 0; count < 64 && start <= input.size(); ++count) {
        std::size_t end = input.find("\xFF\xFE", start);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view bytes = input.substr(start, end - start);
        const std::string suffix =
            !bytes.empty() && (bytes[0] & 1) != 0 ? listing::RawSuffix(static_cast<std::uint8_t>(bytes[0])) : "";
        const std::string name = names.Take(bytes, suffix);
        CheckSafe(name);
        Check(name.ends_with(suffix));
        Check(taken.insert(Upper(name)).second);
        Check(listing::SafeName(bytes, suffix) == listing::SafeName(bytes, suffix));
        start = end + 2;
    }
    return 0;
}
