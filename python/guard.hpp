#pragma once
// Every call into the module goes through MemoryGuarded: Python's own
// MemoryError (a dict, a list or a str that could not be made) becomes the
// module's OutOfMemoryError, as every allocation failure of the core does.

#include <pybind11/pybind11.h>

#include <exception>
#include <stdexcept>
#include <utility>

#include "support/exception.hpp"

namespace vexmira::python {

namespace py = pybind11;

// The C++ runtime keeps a thread's exception state in thread-local storage
// of its own library, which the C library makes on that thread's first use
// (the library is loaded after the thread started) and aborts the process
// when it cannot. Made on entry, while memory is still there, so that the
// first exception thrown once memory has run out is raised like any later one.
// The result goes to a volatile: the call is declared pure, and would be dropped.
inline void PrepareThreadForExceptions() noexcept {
    const volatile int uncaught = std::uncaught_exceptions();
    static_cast<void>(uncaught);
}

template <class Result, class... Args>
auto MemoryGuarded(Result (*function)(Args...)) {
    return [function](Args... args) -> Result {
        PrepareThreadForExceptions();
        try {
            return function(std::forward<Args>(args)...);
        } catch (py::error_already_set& error) {
            if (error.matches(PyExc_MemoryError)) throw support::EOutOfMemory();
            throw;
        } catch (const support::Exception&) {
            throw;
        } catch (const std::runtime_error&) {
            // pybind11's own wrappers fail this way, Python's MemoryError set.
            if (PyErr_Occurred() == nullptr || !PyErr_ExceptionMatches(PyExc_MemoryError)) throw;
            PyErr_Clear();
            throw support::EOutOfMemory();
        }
    };
}

}  // namespace vexmira::python
