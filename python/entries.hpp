#pragma once
// A listing walked in batches over the core's Examine and ResumeListing, so
// that a Python loop over millions of entries holds one batch at a time, and
// the entries as Python values.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/compress.hpp"
#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "python/file_object.hpp"

namespace vexmira::python {

namespace py = pybind11;

// One entry as the walk handed it over.
struct EntryValue {
    std::string Name;
    archive::TCompressedFileInfo Info;
    std::optional<std::string_view> Suspect;  // one of the core's fixed reasons
    std::optional<listing::StoredData> Data;  // with hashes: what its stored bytes read as

    listing::EntryView View() const noexcept { return {Name, Info, Suspect, Data ? &*Data : nullptr}; }
};

// A source shared by an archive object and its iterators: one walk reads it at a time.
struct SharedSource {
    explicit SharedSource(Source source) : Held(std::move(source)) {}
    Source Held;
    std::mutex Walking;
    bool Closed = false;  // under Walking: the archive object that holds it was closed
    // Its listings read every entry's stored bytes (the tool's --hash).
    bool Hashes = false;
};

// The listing of one source: the tool's route, or the archive at `offset`,
// in place. Without the GIL, under the source's lock.
class ListingWalk {
public:
    // With the source's Hashes, every entry comes with its stored bytes'
    // digest and entropy.
    ListingWalk(SharedSource& source, std::optional<std::int64_t> offset);

    // Goes on from `from`, a pause of an earlier walk of the same source,
    // instead of starting; before the first Next.
    void ResumeFrom(listing::ListingCheckpoint from) {
        started_ = true;
        checkpoint_ = std::move(from);
    }
    // Pauses once this many entries were handed over (Checkpoint() then
    // says where), however the batches fall.
    void PauseAfter(std::uint64_t entries) noexcept { pause_after_ = entries; }
    // Where the walk paused; none once it ended.
    const std::optional<listing::ListingCheckpoint>& Checkpoint() const noexcept { return checkpoint_; }

    // The next entries, in place of what `batch` held; false (batch empty)
    // once the listing has ended.
    bool Next(std::vector<EntryValue>& batch);

    bool Ended() const noexcept { return ended_; }
    const listing::ListingHead& Head() const noexcept { return sink_.Head; }
    // Once Ended.
    const listing::ListingEnd& End() const noexcept { return sink_.Ended; }
    std::uint64_t Entries() const noexcept { return sink_.Count; }

private:
    class Sink final : public listing::ListingSink {
    public:
        // The head as the listing began: a resumed batch's head lacks the
        // archive header and the messages, and is taken only by a walk that
        // resumed from the start (ResumeFrom).
        void Begin(const listing::ListingHead& head) override {
            Head = head;
            Begun = true;
        }
        void Resume(const listing::ListingHead& head, std::uint64_t) override {
            if (Begun) return;
            Head = head;
            Begun = true;
        }
        void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                   std::optional<std::string_view> suspect) override;
        void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect, const listing::StoredData& data) override;
        void End(const listing::ListingHead& head, const listing::ListingEnd& end) override {
            if (!Begun) Head = head;
            Ended = end;
        }
        bool Full() const noexcept;

        listing::ListingHead Head;
        listing::ListingEnd Ended;
        std::vector<EntryValue>* Batch = nullptr;
        std::size_t BatchBytes = 0;
        std::uint64_t Count = 0;
        bool Begun = false;
    };

    SharedSource& source_;
    listing::Options options_;
    Sink sink_;
    std::optional<listing::ListingCheckpoint> paused_;
    std::optional<listing::ListingCheckpoint> checkpoint_;
    std::optional<std::uint64_t> pause_after_;
    bool started_ = false;
    bool ended_ = false;
};

// A field table value as Python has it: None, bool, int or str.
py::object FieldObject(const listing::FieldValue& value);

// One entry field's value as Python has it (the tool's own words shared).
py::object EntryFieldObject(listing::EntryField field, const EntryValue& entry);

// The JSON entry's keys and values as a dict, plus name_bytes.
py::dict EntryDict(const EntryValue& entry);

// The Entry and EntryIterator classes.
void BindEntries(py::module_& module);

// Iteration over a shared source, as Entry objects (`objects`) or dicts;
// with `stopAtSuspect`, it ends before the first suspect entry; with
// `limit`, after that many entries (a listing --all made, whose walk stopped
// or joined another where a walk from its offset alone goes on).
py::object IterateEntries(std::shared_ptr<SharedSource> source, std::optional<std::int64_t> offset, bool objects,
                          bool stopAtSuspect, std::optional<std::uint64_t> limit = std::nullopt);

}  // namespace vexmira::python
