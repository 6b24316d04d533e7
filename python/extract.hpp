#pragma once
// Archive.extract: a listing's entries written out as the tool's --extract
// writes them, through the same sink and the same writer.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

#include "python/entries.hpp"
#include "python/guard.hpp"

namespace vexmira::python {

namespace py = pybind11;

// What an Archive object lists: its source, the archive's offset (none: the
// tool's route), and whether its path was given as bytes.
struct ListedArchive {
    SharedSource& Source;
    std::optional<std::int64_t> Offset;
    bool BytesPath = false;
};

// Writes the listing's entries below `dir` (made when missing) and returns
// the paths of the files written, in entry order. Raises the module's errors.
py::list Extract(const ListedArchive& archive, const py::object& dir, bool includeSuspect, bool force);

inline constexpr const char* kExtractDoc =
    "Writes this listing's entries below DIR (made when missing) as `vexmira --extract DIR` does: to "
    "DIR/<source's path, mapped as the tool maps it>.extracted/<OFFSET>/, stored entries as themselves, every other "
    "entry as its stored bytes, NAME.<method>.raw (nothing is decoded), with manifest.jsonl, a line per entry. Names "
    "from the archive become safe, unique file names inside that folder. Returns the paths of the files written, in "
    "entry order (bytes when the source's path was bytes), so unlike zipfile's extractall it says what it wrote; an "
    "entry not written (suspect without include_suspect, data past the end, bytes overlapping another's) is only in "
    "the manifest, with why. Raises CreateError, also a FileExistsError, where an earlier extraction is, unless "
    "force; nothing written is left half done.";

// Archive.extract(dir, *, include_suspect=False, force=False) on the
// module's Archive class, whose Listed() says what an object lists.
template <class ArchiveClass>
void BindExtract(py::class_<ArchiveClass>& archiveClass) {
    archiveClass.def("extract",
                     MemoryGuarded(+[](ArchiveClass& self, const py::object& dir, bool includeSuspect, bool force) {
                         return Extract(self.Listed(), dir, includeSuspect, force);
                     }),
                     py::arg("dir"), py::kw_only(), py::arg("include_suspect") = false, py::arg("force") = false,
                     kExtractDoc);
}

}  // namespace vexmira::python
