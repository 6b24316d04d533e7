#include "python/entries.hpp"

#include <array>
#include <unordered_map>
#include <type_traits>
#include <variant>
#include <utility>

#include "archive/entry_text.hpp"
#include "listing/fields.hpp"
#include "report/text.hpp"
#include "python/guard.hpp"

namespace vexmira::python {

namespace {

// A batch ends at this many entries or name bytes, whichever comes first:
// few enough to hold, many enough that pausing costs nothing measurable.
constexpr std::size_t kBatchEntries = 4096;
constexpr std::size_t kBatchNameBytes = std::size_t{1} << 20;

}  // namespace

void ListingWalk::Sink::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                              std::optional<std::string_view> suspect) {
    Batch->push_back({std::string(name), info, suspect, std::nullopt});
    BatchBytes += name.size();
    ++Count;
}

void ListingWalk::Sink::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                                      std::optional<std::string_view> suspect, const listing::StoredData& data) {
    Batch->push_back({std::string(name), info, suspect, data});
    BatchBytes += name.size();
    ++Count;
}

bool ListingWalk::Sink::Full() const noexcept { return Batch->size() >= kBatchEntries || BatchBytes >= kBatchNameBytes; }

ListingWalk::ListingWalk(SharedSource& source, std::optional<std::int64_t> offset) : source_(source) {
    options_.Offset = offset;
    options_.Hashes = source.Hashes;
    options_.PauseAfterEntry = [this] { return sink_.Full() || (pause_after_ && sink_.Count >= *pause_after_); };
    options_.Paused = &paused_;
}

bool ListingWalk::Next(std::vector<EntryValue>& batch) {
    batch.clear();
    if (ended_) return false;
    sink_.Batch = &batch;
    sink_.BatchBytes = 0;
    Source& source = source_.Held;
    support::Stream& input = source.Hold();
    options_.Input = &input;
    if (!started_) {
        started_ = true;
        listing::Examine(source.File, options_, sink_);
    } else {
        listing::ResumeListing(input, source.File, *checkpoint_, options_, sink_);
    }
    checkpoint_ = std::move(paused_);
    paused_.reset();
    ended_ = !checkpoint_;
    return !batch.empty();
}

namespace {

py::object Int(std::int64_t value) { return py::reinterpret_steal<py::object>(PyLong_FromLongLong(value)); }

py::object Latin1(std::string_view bytes) {
    PyObject* text = PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(text);
}

py::object TextOrNone(std::optional<std::string_view> text) {
    return text ? py::object(py::str(text->data(), text->size())) : py::object(py::none());
}

std::string Quoted(const py::object& value) { return py::repr(value).cast<std::string>(); }

}  // namespace

py::object FieldObject(const listing::FieldValue& value) {
    return std::visit(
        [](const auto& held) -> py::object {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::monostate>) {
                return py::none();
            } else if constexpr (std::is_same_v<Held, bool>) {
                return py::bool_(held);
            } else if constexpr (std::is_same_v<Held, std::int64_t>) {
                return Int(held);
            } else if constexpr (std::is_same_v<Held, listing::Hundredths>) {
                return py::float_(static_cast<double>(held.Value) / 100);
            } else if (!held.From || *held.From == listing::Encoding::Latin1) {
                return Latin1(held.Bytes);  // the tool's own words are ASCII
            } else {
                const std::string text = report::ToUtf8(held.Bytes, *held.From);
                PyObject* made = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
                if (made == nullptr) throw py::error_already_set();
                return py::reinterpret_steal<py::object>(made);
            }
        },
        value);
}

namespace {

// An entry field's value in its own type, as Python has it.
py::object TypedObject(listing::FieldText text) { return FieldObject(text); }
// The tool's own words (a method's name, a suspect reason, "57%", "5 Kb")
// repeat from entry to entry: the few first seen are made once and shared.
py::object ToolWords(std::string_view text) {
    static std::unordered_map<std::string, py::object>* const made = new std::unordered_map<std::string, py::object>();
    constexpr std::size_t kKept = 4096;
    if (const auto found = made->find(std::string(text)); found != made->end()) return found->second;
    py::object word = Latin1(text);  // ASCII
    if (made->size() < kKept) made->emplace(std::string(text), word);
    return word;
}

py::object TypedObject(listing::OwnText text) { return ToolWords(text.Bytes); }
py::object TypedObject(const listing::OwnString& text) { return ToolWords(text.Bytes); }
py::object TypedObject(std::int64_t number) { return Int(number); }
py::object TypedObject(bool flag) { return py::bool_(flag); }
py::object TypedObject(listing::Hundredths decimal) { return FieldObject(decimal); }
template <class Value>
py::object TypedObject(const std::optional<Value>& value) {
    return value ? TypedObject(*value) : py::object(py::none());
}

template <std::size_t... Index>
py::object EntryFieldObjectAt(listing::EntryField field, const listing::EntryView& view, std::index_sequence<Index...>) {
    py::object made;
    static_cast<void>(((field == listing::kEntryFields[Index].Field
                            ? (made = TypedObject(listing::EntryFieldValueOf<listing::kEntryFields[Index].Field>(view)), true)
                            : false) ||
                       ...));
    return made;
}

}  // namespace

py::object EntryFieldObject(listing::EntryField field, const EntryValue& entry) {
    return EntryFieldObjectAt(field, entry.View(), std::make_index_sequence<listing::kEntryFields.size()>());
}

py::dict EntryDict(const EntryValue& entry) {
    // The keys, made once and interned: a million entries share them.
    static const auto keys = [] {
        std::array<PyObject*, listing::kEntryFields.size() + 1> made{};
        for (std::size_t i = 0; i < listing::kEntryFields.size(); ++i) {
            made[i] = PyUnicode_InternFromString(std::string(listing::kEntryFields[i].PythonKey).c_str());
            if (made[i] == nullptr) throw py::error_already_set();
        }
        made.back() = PyUnicode_InternFromString("name_bytes");
        if (made.back() == nullptr) throw py::error_already_set();
        return made;
    }();
    py::dict out;
    listing::ForEachEntryField(entry.View(), [&](auto index, auto value) {
        const py::object made = TypedObject(std::move(value));
        if (!made || PyDict_SetItem(out.ptr(), keys[index], made.ptr()) != 0) throw py::error_already_set();
    });
    const py::bytes name(entry.Name);
    if (PyDict_SetItem(out.ptr(), keys.back(), name.ptr()) != 0) throw py::error_already_set();
    return out;
}

namespace {

// Entries one by one over batches of a walk; exhausted once closed.
class EntryIterator {
public:
    EntryIterator(std::shared_ptr<SharedSource> source, std::optional<std::int64_t> offset, bool objects,
                  bool stopAtSuspect, std::optional<std::uint64_t> limit)
        : source_(std::move(source)), walk_(std::make_unique<ListingWalk>(*source_, offset)), objects_(objects),
          stop_at_suspect_(stopAtSuspect), limit_(limit) {}
    ~EntryIterator() { Drop(); }
    EntryIterator(const EntryIterator&) = delete;
    EntryIterator& operator=(const EntryIterator&) = delete;

    py::object Next() {
        if (!walk_) throw py::stop_iteration();
        if (limit_ && given_ == *limit_) {
            // The listing ended here; what the walk reads beyond is not its.
            Drop();
            throw py::stop_iteration();
        }
        if (at_ == batch_.size()) {
            at_ = 0;
            bool more = false;
            bool closed = false;
            {
                py::gil_scoped_release unlocked;
                std::lock_guard lock(source_->Walking);
                closed = source_->Closed;
                if (!closed) more = walk_->Next(batch_);
            }
            if (closed) {
                Drop();
                throw py::value_error("I/O operation on a closed archive");
            }
            source_->Held.Check();
            if (!more) {
                const listing::ListingEnd& end = walk_->End();
                if (end.Failure) {
                    const std::exception_ptr failure = end.Failure;
                    Drop();
                    std::rethrow_exception(failure);
                }
                Finish();
                throw py::stop_iteration();
            }
        }
        EntryValue& entry = batch_[at_++];
        if (stop_at_suspect_ && entry.Suspect) {
            Drop();
            throw py::stop_iteration();
        }
        ++given_;
        if (!objects_) return EntryDict(entry);
        return py::cast(std::move(entry), py::return_value_policy::move);
    }

    // Stops the walk; a path this iterator opened is closed.
    void Close() { Drop(); }

    py::object Summary() const { return summary_; }

private:
    void Finish() {
        const listing::ListingEnd& end = walk_->End();
        if (end.Walk) {
            const listing::ArchiveEnd reported = listing::ReportedArchiveEnd(*end.Walk);
            py::dict summary;
            summary["archive_end"] = reported.End;
            summary["truncated"] = reported.Truncated;
            summary["trailing_bytes"] = reported.Trailing;
            summary["plausible_end"] = end.PlausibleEnd;
            summary["entries"] = walk_->Entries();
            summary_ = summary;
        }
        Drop();
    }

    void Drop() noexcept {
        walk_.reset();
        batch_ = {};
        at_ = 0;
        // Only the iterator's own source: an archive object keeps its file.
        if (source_ && source_.use_count() == 1) source_->Held.Release();
    }

    std::shared_ptr<SharedSource> source_;
    std::unique_ptr<ListingWalk> walk_;
    std::vector<EntryValue> batch_;
    std::size_t at_ = 0;
    bool objects_;
    bool stop_at_suspect_;
    std::optional<std::uint64_t> limit_;
    std::uint64_t given_ = 0;
    py::object summary_ = py::none();
};

}  // namespace

py::object IterateEntries(std::shared_ptr<SharedSource> source, std::optional<std::int64_t> offset, bool objects,
                          bool stopAtSuspect, std::optional<std::uint64_t> limit) {
    return py::cast(std::make_unique<EntryIterator>(std::move(source), offset, objects, stopAtSuspect, limit));
}

void BindEntries(py::module_& module) {
    py::class_<EntryValue> entry(module, "Entry",
                                 "One entry of a listing, immutable: the fields of the tool's JSON entry as attributes "
                                 "(the listing's field table) and name_bytes.");
    for (const listing::FieldRow<listing::EntryField>& row : listing::kEntryFields) {
        const listing::EntryField field = row.Field;
        std::string meaning(row.Meaning);
        if (row.WithHashes) meaning += "; None unless the archive was opened with hashes=True";
        entry.def_property_readonly(
            std::string(row.PythonKey).c_str(), [field](const EntryValue& e) { return EntryFieldObject(field, e); },
            meaning.c_str());
    }
    entry.def_property_readonly("name_bytes", [](const EntryValue& e) { return py::bytes(e.Name); },
                                "The name's bytes as the archive holds them (name reads them as Latin-1).")
        .def("to_dict", MemoryGuarded(+[](const EntryValue& e) { return EntryDict(e); }), "The tool's JSON entry as a dict, plus name_bytes.")
        .def("__repr__", [](const EntryValue& e) {
            std::string text = "<Entry name=" + Quoted(Latin1(e.Name)) + " method_id=" +
                               Quoted(TypedObject(listing::EntryFieldValueOf<listing::EntryField::MethodId>({e.Name, e.Info, e.Suspect}))) + " full_size=" + std::to_string(e.Info.FullSize) +
                               " compressed_size=" + std::to_string(e.Info.CompressedSize);
            if (e.Info.Locked) text += " locked";
            if (e.Suspect) text += " suspect=" + Quoted(TextOrNone(e.Suspect));
            return text + ">";
        });

    py::class_<EntryIterator>(module, "EntryIterator",
                              "The entries of one listing, one by one, in bounded memory; a context manager that "
                              "closes it.")
        .def("__iter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__next__", MemoryGuarded(+[](EntryIterator& self) { return self.Next(); }))
        .def("close", &EntryIterator::Close, "Stops the walk and releases the file; the iterator is then exhausted.")
        .def("__enter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__exit__", [](EntryIterator& self, const py::args&) { self.Close(); })
        .def_property_readonly("summary", &EntryIterator::Summary,
                               "archive_end, truncated, trailing_bytes, plausible_end and the count of entries, once "
                               "the iterator is exhausted; None before, and after a failure or close().");
}

}  // namespace vexmira::python
