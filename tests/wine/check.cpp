#include "tests/wine/check.hpp"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
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

void Check(bool passed, const char* file, int line, const char* format, ...) {
    InterlockedIncrement(&checks);
    if (passed) return;
    InterlockedIncrement(&failures);
    EnterCriticalSection(PrintLock());
    std::printf("%s:%d: Test failed: ", BaseName(file), line);
    for (const std::string& context : contexts) std::printf("%s: ", context.c_str());
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
    LeaveCriticalSection(PrintLock());
}

void Trace(const char* format, ...) {
    EnterCriticalSection(PrintLock());
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
    LeaveCriticalSection(PrintLock());
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
