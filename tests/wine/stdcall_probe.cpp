// The plug-in's three exports with the wrong calling convention (stdcall),
// so the DLL check shows it tells the conventions apart.

#include <cstdint>

namespace {
const char kText[] = "probe";
volatile std::int32_t seen = 0;  // DoMyJob reads its arguments, as the real one does
}  // namespace

extern "C" {
const char* __stdcall About(void) { return kText; }
const char* __stdcall LoadDll(void) { return kText; }
std::int32_t __stdcall DoMyJob(std::int32_t reserved, const char* path) {
    seen = reserved + (path != nullptr ? path[0] : 0);
    return 0;
}
}
