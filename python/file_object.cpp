#include "python/file_object.hpp"

#include "report/text.hpp"

namespace vexmira::python {

std::string PathBytes(const py::object& path) {
    py::object encoded = py::module_::import("os").attr("fsencode")(path);
    std::string bytes = encoded.cast<std::string>();
    if (bytes.find('\0') != std::string::npos) {
        throw py::value_error("path contains a NUL byte: " + py::repr(encoded).cast<std::string>());
    }
    return bytes;
}

py::object ErrorClass(const char* name) { return py::module_::import("vexmira._errors").attr(name); }

HeldBuffer::HeldBuffer(const py::object& data) {
    if (PyObject_GetBuffer(data.ptr(), &view_, PyBUF_SIMPLE) != 0) {
        PyErr_Clear();
        throw py::type_error("expected a contiguous bytes-like object (bytes, bytearray, memoryview, mmap), not " +
                             TypeName(data));
    }
}

namespace {

bool IsFileObject(const py::object& source) {
    if (py::isinstance<py::str>(source) || py::isinstance<py::bytes>(source)) return false;
    if (py::isinstance(source, py::module_::import("os").attr("PathLike"))) return false;
    return py::hasattr(source, "read") && py::hasattr(source, "seek");
}

bool IsPath(const py::object& source) {
    return py::isinstance<py::str>(source) || py::isinstance<py::bytes>(source) ||
           py::isinstance(source, py::module_::import("os").attr("PathLike"));
}

}  // namespace

Source DataSource(const py::object& data, std::string name) {
    Source result;
    result.File = std::move(name);
    result.Buffer = std::make_unique<HeldBuffer>(data);
    result.Memory = std::make_unique<BufferStream>(*result.Buffer);
    return result;
}

Source SourceOf(const py::object& source, const py::object& name, bool bytesLike) {
    Source result;
    if (!name.is_none() && !py::isinstance<py::str>(name) && !py::isinstance<py::bytes>(name)) {
        throw py::type_error("name must be str or bytes, not " + TypeName(name));
    }
    // Bytes in memory are read in place, also those that can be read as a
    // file too (an mmap, whose seek() returns None before Python 3.13).
    if (bytesLike && !IsPath(source) && (PyObject_CheckBuffer(source.ptr()) != 0 || !IsFileObject(source))) {
        return DataSource(source, name.is_none() ? std::string("<bytes>") : PathBytes(name));
    }
    if (!IsFileObject(source)) {
        const std::string path = PathBytes(source);
        if (name.is_none()) {
            result.File = path;
        } else {
            result.File = PathBytes(name);
            py::gil_scoped_release unlocked;
            result.Opened = std::make_unique<support::FileStream>(path, support::FileMode::OpenReadExclusive);
        }
        return result;
    }
    const py::object own = name.is_none() ? py::getattr(source, "name", py::none()) : name;
    result.File = py::isinstance<py::str>(own) || py::isinstance<py::bytes>(own) ? PathBytes(own) : "<file object>";
    result.Object = std::make_unique<PythonFileStream>(source, report::ToUtf8(result.File, listing::Encoding::Utf8));
    return result;
}


}  // namespace vexmira::python
