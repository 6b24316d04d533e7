#include "tests/wine/check.hpp"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vexmira::wine_test {
namespace {

volatile LONG failures = 0;
volatile LONG checks = 0;
// Shared by both threads: the host thread sets a context around a job, and the
// driver's failures inside that job belong to it. The host thread is blocked
// in the plug-in while the driver works, so they do not push at once.
std::vector<std::string> contexts;

CRITICAL_SECTION* PrintLock() {
    static CRITICAL_SECTION lock = [] {
        CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return section;
    }();
    return &lock;
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* last = slash > backslash ? slash : backslash;
    return last ? last + 1 : path;
}

}  // namespace

namespace {

// Prints one line under the lock, so the driving thread and the host never interleave.
void PrintLocked(const char* prefix, const char* format, va_list arguments) {
    EnterCriticalSection(PrintLock());
    std::fputs(prefix, stdout);
    std::vprintf(format, arguments);
    std::fflush(stdout);
    LeaveCriticalSection(PrintLock());
}

}  // namespace

void Check(bool passed, const char* file, int line, const char* format, ...) {
    InterlockedIncrement(&checks);
    if (passed) return;
    InterlockedIncrement(&failures);
    std::string prefix = std::string(BaseName(file)) + ":" + std::to_string(line) + ": Test failed: ";
    for (const std::string& context : contexts) prefix += context + ": ";
    va_list arguments;
    va_start(arguments, format);
    PrintLocked(prefix.c_str(), format, arguments);
    va_end(arguments);
}

void Trace(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PrintLocked("", format, arguments);
    va_end(arguments);
}

long Failures() noexcept { return failures; }
long Checks() noexcept { return checks; }

Context::Context(std::string label) {
    EnterCriticalSection(PrintLock());
    contexts.push_back(std::move(label));
    LeaveCriticalSection(PrintLock());
}

Context::~Context() {
    EnterCriticalSection(PrintLock());
    contexts.pop_back();
    LeaveCriticalSection(PrintLock());
}

}  // namespace vexmira::wine_test
