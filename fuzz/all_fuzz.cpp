// --all over any file, in memory: what the walks list, where they join or
// stop, what is carved, and how much is written.
//
// Checked on every input: each entry lies inside the file, and no two listed
// entries share a byte of header or name unless a candidate's first entry is
// the very entry listed before; a join names a header listed before; a stop
// names the signature the file holds there or an entry listed before; carved
// ranges lie inside the file, never overlap and together hold at most the
// file's bytes, and a candidate not carved names the carve that holds it; the
// folded JSON, each run written out, is exactly the unfolded JSON; and JSON,
// plain output (standard error included) and CSV stay within 16 bytes per
// input byte plus kPerListing bytes per listing written.
//
// Carves are written to memory, through the listings' own output interface.
// Input: a control byte (bit 0: --carve; bit 1: --carve-end walk), then the file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/output.hpp"
#include "fuzz/memory_file.hpp"
#include "listing/examine.hpp"
#include "report/csv.hpp"
#include "report/filter.hpp"
#include "report/json.hpp"
#include "report/plain.hpp"
#include "report/summary.hpp"
#include "support/memory_stream.hpp"

namespace {

using namespace vexmira;
using Json = nlohmann::json;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr std::uint64_t kPerInputByte = 16;
constexpr std::uint64_t kPerListing = 1024;
constexpr std::uint8_t kSignature[] = {'S', 'P', 'I', 'S', 0x1A};

using fuzz::MemoryFile;

// Hands every event to each sink in turn.
class Tee final : public listing::ListingSink {
public:
    explicit Tee(std::vector<listing::ListingSink*> sinks) : sinks_(std::move(sinks)) {}
    void Begin(const listing::ListingHead& head) override {
        for (auto* sink : sinks_) sink->Begin(head);
    }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        for (auto* sink : sinks_) sink->Entry(name, info, suspect);
    }
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more) override {
        for (auto* sink : sinks_) sink->EntryRun(name, info, suspect, more);
    }
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override {
        for (auto* sink : sinks_) sink->End(head, end);
    }

private:
    std::vector<listing::ListingSink*> sinks_;
};

struct Region {
    std::int64_t Header = 0;
    std::int64_t End = 0;  // past the header and the name
};

struct Recorded {
    std::int64_t Offset = -1;
    std::vector<Region> Entries;
    listing::ListingEnd End;
};

class Recorder final : public listing::ListingSink {
public:
    void Begin(const listing::ListingHead& head) override { listings.push_back({head.Offset, {}, {}}); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view>) override {
        listings.back().Entries.push_back(
            {info.HeaderOffset, info.HeaderOffset + info.HeaderSize + static_cast<std::int64_t>(name.size())});
    }
    void EntryRun(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>,
                  const listing::ShiftedCopies&) override {
        Check(false);  // nothing folds here
    }
    void End(const listing::ListingHead&, const listing::ListingEnd& end) override { listings.back().End = end; }

    std::vector<Recorded> listings;
};

void CheckPlan(const std::vector<Recorded>& listings, const std::uint8_t* file, std::int64_t size) {
    std::map<std::int64_t, std::int64_t> listed;  // header -> end of header and name
    std::vector<std::pair<std::int64_t, std::int64_t>> carved;
    std::vector<std::string> carvedPaths;
    std::int64_t carvedBytes = 0;
    std::int64_t previous = -1;
    for (const Recorded& listing : listings) {
        Check(listings.size() == 1 || listing.Offset > previous);
        previous = listing.Offset;
        for (std::size_t i = 0; i < listing.Entries.size(); ++i) {
            const Region& entry = listing.Entries[i];
            Check(entry.Header >= 0 && entry.Header < entry.End && entry.End <= size);
            const auto same = listed.find(entry.Header);
            if (same != listed.end()) {
                Check(i == 0 && same->second == entry.End);  // only a first entry is shown again
                continue;
            }
            const auto next = listed.lower_bound(entry.Header);
            Check(next == listed.end() || next->first >= entry.End);
            if (next != listed.begin()) Check(std::prev(next)->second <= entry.Header);
            listed.emplace(entry.Header, entry.End);
        }
        const listing::ListingEnd& end = listing.End;
        if (end.Joins) Check(listed.count(*end.Joins) == 1);
        if (end.Stopped) {
            const listing::WalkStop& stop = *end.Stopped;
            Check(listed.count(stop.HeaderOffset) == 0);
            if (stop.Reason == listing::WalkStop::Why::Signature) {
                Check(stop.At >= stop.HeaderOffset && stop.At <= size - 5);
                Check(std::memcmp(file + stop.At, kSignature, sizeof kSignature) == 0);
            } else {
                Check(listed.count(stop.At) == 1);
            }
            Check(end.Walk && end.Walk->ArchiveEnd == stop.HeaderOffset);
        }
        if (end.Carved) {
            const std::int64_t start = listing.Offset;
            const std::int64_t stop = start + end.Carved->Size;
            Check(start >= 0 && end.Carved->Size > 0 && stop <= size);
            Check(carved.empty() || carved.back().second <= start);
            carved.emplace_back(start, stop);
            carvedPaths.push_back(end.Carved->Path);
            carvedBytes += end.Carved->Size;
        }
        if (end.CarvedIn) {
            Check(!carved.empty() && carved.back().first <= listing.Offset && listing.Offset < carved.back().second);
            Check(*end.CarvedIn == carvedPaths.back());
            Check(!end.Carved);
        }
    }
    Check(carvedBytes <= size);
}

std::int64_t Number(const Json& value) { return value.get<std::int64_t>(); }

// The folded JSON with every run written out, one object per listing.
std::vector<Json> Unfold(const std::string& folded) {
    std::vector<Json> out;
    std::size_t start = 0;
    while (start < folded.size()) {
        const std::size_t stop = folded.find('\n', start);
        Check(stop != std::string::npos);
        Json object = Json::parse(folded.substr(start, stop - start));
        start = stop + 1;
        Json entries = Json::array();
        for (const Json& entry : object.at("entries")) {
            const std::int64_t count = entry.contains("also_at") ? Number(entry["also_at"]["count"]) : 0;
            const std::int64_t every = count > 0 ? Number(entry["also_at"]["every"]) : 0;
            for (std::int64_t k = 0; k <= count; ++k) {
                Json copy = entry;
                copy.erase("also_at");
                copy["header_offset"] = Number(entry["header_offset"]) + k * every;
                copy["data_offset"] = Number(entry["data_offset"]) + k * every;
                entries.push_back(copy);
            }
        }
        object["entries"] = entries;
        const std::int64_t count = object.contains("also_at") ? Number(object["also_at"]["count"]) : 0;
        const std::int64_t every = count > 0 ? Number(object["also_at"]["every"]) : 0;
        object.erase("also_at");
        for (std::int64_t k = 0; k <= count; ++k) {
            const std::int64_t shift = k * every;
            Json copy = object;
            if (!copy["offset"].is_null()) copy["offset"] = Number(object["offset"]) + shift;
            for (Json& entry : copy["entries"]) {
                entry["header_offset"] = Number(entry["header_offset"]) + shift;
                entry["data_offset"] = Number(entry["data_offset"]) + shift;
            }
            for (const char* key : {"archive_end", "plausible_end", "joins"}) {
                if (copy.contains(key) && !copy[key].is_null()) copy[key] = Number(copy[key]) + shift;
            }
            if (!copy["trailing_bytes"].is_null()) copy["trailing_bytes"] = Number(copy["trailing_bytes"]) - shift;
            if (copy.contains("stopped")) {
                for (auto& [key, value] : copy["stopped"].items()) value = Number(value) + shift;
            }
            out.push_back(copy);
        }
    }
    return out;
}

std::size_t CountLines(const std::string& text, std::string_view start) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, start.size(), start) == 0) ++count;
        const std::size_t next = text.find('\n', at);
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return count;
}

// Carves go to memory: each one's bytes are counted, and kept by path.
class CountingStream final : public support::Stream {
public:
    std::size_t Read(void*, std::size_t) noexcept override { return 0; }
    std::int64_t Seek(std::int64_t offset, support::SeekOrigin origin) noexcept override {
        const std::int64_t target = support::SeekTarget(position_, offset, origin);
        if (target >= 0) position_ = target;
        return target;
    }
    std::int64_t Size() noexcept override { return written_; }
    std::int64_t Position() const noexcept override { return position_; }

protected:
    std::size_t Write(const void*, std::size_t count) noexcept override {
        position_ += static_cast<std::int64_t>(count);
        written_ = std::max(written_, position_);
        return count;
    }

private:
    std::int64_t position_ = 0;
    std::int64_t written_ = 0;
};

class MemoryOutputs final : public listing::OutputFiles {
public:
    std::string PathOf(const std::string& input, const std::string& suffix) const override { return input + suffix; }
    std::unique_ptr<listing::PendingOutput> Start(const std::string& input, const std::string& suffix, bool) override {
        return std::make_unique<Output>(*this, PathOf(input, suffix));
    }
    // Bytes of each committed carve, by path.
    std::map<std::string, std::int64_t> Committed;

private:
    class Output final : public listing::PendingOutput {
    public:
        Output(MemoryOutputs& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        support::Stream& Stream() noexcept override { return stream_; }
        const std::string& Path() const noexcept override { return path_; }
        void Commit() override {
            Check(owner_.Committed.count(path_) == 0);  // no carve is written twice in a run
            owner_.Committed[path_] = stream_.Size();
        }

    private:
        MemoryOutputs& owner_;
        std::string path_;
        CountingStream stream_;
    };
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* file = data + 1;
    const auto fileSize = static_cast<std::int64_t>(size - 1);
    const std::string path = "in";

    listing::Options options;
    options.All = true;
    options.Carve = (data[0] & 1) != 0;
    options.CarveToWalkEnd = (data[0] & 2) != 0;
    MemoryOutputs unfoldedCarves, foldedCarves;

    // Unfolded, as --csv runs: the plan's events, JSON and CSV.
    MemoryFile unfoldedFile, csvFile, csvErrors;
    Recorder recorder;
    {
        support::MemoryStream input(file, static_cast<std::size_t>(fileSize));
        options.Input = &input;
        options.Outputs = &unfoldedCarves;
        cli::FdOutput unfoldedOut(unfoldedFile.Fd());
        cli::FdOutput csvOut(csvFile.Fd(), csvErrors.Fd());
        report::JsonReport json(unfoldedOut);
        report::CsvReport csv(csvOut, false);
        Tee tee({&recorder, &json, &csv});
        listing::Examine(path, options, tee);
        unfoldedOut.Flush();
        csvOut.Flush();
    }
    // Folded, as --json and plain output run.
    MemoryFile foldedFile, plainFile, plainErrors;
    {
        support::MemoryStream input(file, static_cast<std::size_t>(fileSize));
        options.Input = &input;
        options.FoldRepeats = true;
        options.Outputs = &foldedCarves;
        cli::FdOutput foldedOut(foldedFile.Fd());
        cli::FdOutput plainOut(plainFile.Fd(), plainErrors.Fd());
        report::JsonReport json(foldedOut);
        report::PlainReport plain(plainOut);
        Tee tee({&json, &plain});
        listing::Examine(path, options, tee);
        foldedOut.Flush();
        plainOut.Flush();
    }
    CheckPlan(recorder.listings, file, fileSize);
    std::int64_t carved = 0;
    for (const auto& [carve, bytes] : unfoldedCarves.Committed) carved += bytes;
    Check(carved <= fileSize);
    Check(foldedCarves.Committed == unfoldedCarves.Committed);

    const std::string unfolded = unfoldedFile.Contents();
    const std::string folded = foldedFile.Contents();
    const std::string plain = plainFile.Contents() + plainErrors.Contents();
    const std::string csv = csvFile.Contents() + csvErrors.Contents();
    // Parsed only where something folded: the rest is the same text.
    if (folded != unfolded) Check(Unfold(folded) == Unfold(unfolded));

    // Paths show in a listing as FILE, its listed path, a carve and the carve that holds it.
    const std::uint64_t perListing = kPerListing + 4 * (path.size() + 16);
    const std::uint64_t perByte = kPerInputByte * static_cast<std::uint64_t>(fileSize);
    const auto within = [&](const std::string& output, std::size_t listings) {
        Check(output.size() <= perByte + listings * perListing);
    };
    within(unfolded, recorder.listings.size());
    within(csv, recorder.listings.size());
    within(folded, CountLines(folded, "{"));
    within(plain, CountLines(plain, "File: "));
    return 0;
}
