#pragma once
// Checks in Wine's own style: ok(condition, "got %d, expected %d\n", ...)
// prints only when the condition fails, and the run counts the failures.
// Safe to use from the host's threads at once.

#include <string>

namespace vexmira::wine_test {

void Check(bool passed, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

long Failures() noexcept;
long Checks() noexcept;

// A label printed before every failure while it is in scope, for
// table-driven cases ("row 3: got ..."). Scopes nest; they must end in the
// order they began, whichever thread opened them.
class Context {
public:
    explicit Context(std::string label);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

}  // namespace vexmira::wine_test

#define ok(condition, ...) ::vexmira::wine_test::Check(!!(condition), __FILE__, __LINE__, __VA_ARGS__)
#define trace(...) ::vexmira::wine_test::Trace(__VA_ARGS__)
