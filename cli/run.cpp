#include "cli/run.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/ordered_output.hpp"
#include "cli/output.hpp"
#include "cli/platform.hpp"
#include "listing/plan.hpp"
#include "outputs/output_files.hpp"
#include "report/csv.hpp"
#include "report/filter.hpp"
#include "report/json.hpp"
#include "report/plain.hpp"
#include "report/summary.hpp"
#include "report/views.hpp"
#include "report/text.hpp"
#include "support/exception.hpp"

namespace vexmira::cli {

namespace {

// What a waiting file may hold before its worker waits for its turn, and how
// far ahead of the earliest unfinished file the workers may run.
constexpr std::size_t kHeldBytesPerFile = std::size_t{256} * 1024;
constexpr std::size_t kWindowPerJob = 4;

std::string ProgressText(std::uint64_t done, std::optional<std::uint64_t> total, std::int64_t bytes, double seconds) {
    char text[160];
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    const double rate = seconds > 0 ? mib / seconds : 0;
    if (total) {
        std::snprintf(text, sizeof text, "%llu of %llu files, %.1f MiB, %.1f MiB/s", static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(*total), mib, rate);
    } else {
        std::snprintf(text, sizeof text, "%llu files, %.1f MiB, %.1f MiB/s", static_cast<unsigned long long>(done), mib,
                      rate);
    }
    return text;
}

// Tells the writer an input it took is done with, however the work on it ends.
class FinishOnExit {
public:
    FinishOnExit(outputs::Writer* writer, std::uint64_t order, const std::string& input) noexcept
        : writer_(writer), order_(order), input_(input) {}
    ~FinishOnExit() {
        if (writer_ != nullptr) writer_->Finish(order_, input_);
    }
    FinishOnExit(const FinishOnExit&) = delete;
    FinishOnExit& operator=(const FinishOnExit&) = delete;

private:
    outputs::Writer* writer_;
    std::uint64_t order_;
    const std::string& input_;
};

// Counts what the report gets: the entries listed (a folded run and a
// folded listing each for as many as they stand for) and the headers the
// locator's rule passes over: with --all the listings of them, else those
// its scan saw.
class TallySink final : public listing::ListingSink {
public:
    explicit TallySink(listing::ListingSink& inner) noexcept : inner_(inner) {}
    void Begin(const listing::ListingHead& head) override { inner_.Begin(head); }
    void Resume(const listing::ListingHead& head, std::uint64_t entries) override { inner_.Resume(head, entries); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        ++in_listing_;
        inner_.Entry(name, info, suspect);
    }
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override {
        ++in_listing_;
        inner_.EntryWithData(name, info, suspect, data);
    }
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more) override {
        in_listing_ += 1 + more.Count;
        inner_.EntryRun(name, info, suspect, more);
    }
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override {
        const std::uint64_t listings = 1 + (end.AlsoAt ? end.AlsoAt->Count : 0);
        entries_ += in_listing_ * listings;
        in_listing_ = 0;
        if (head.PassedOver) {
            passed_over_ += listings;
        } else {
            passed_over_ += head.PassedOverCount.value_or(0);
        }
        inner_.End(head, end);
    }
    std::uint64_t Entries() const noexcept { return entries_; }
    std::uint64_t PassedOver() const noexcept { return passed_over_; }

private:
    listing::ListingSink& inner_;
    std::uint64_t in_listing_ = 0;
    std::uint64_t entries_ = 0;
    std::uint64_t passed_over_ = 0;
};

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

void SaySkipped(const FileSource& source) {
    const std::uint64_t skipped = source.SkippedOutputs();
    if (skipped == 0) return;
    const std::string& first = source.FirstSkippedOutput();
    const std::string shown = report::TerminalText(first, report::PathEncoding(first));
    WriteErrorLine("vexmira: skipped " + Counted(skipped, "file", "files") + " named as this tool's outputs, " +
                   (skipped == 1 ? shown + "; name it to examine it" : "the first " + shown + "; name them to examine them"));
}

}  // namespace

std::string AccountText(const RunTally& tally) {
    std::string text = Counted(tally.Files, "file", "files") + ": " + std::to_string(tally.Found) + " found, " +
                       std::to_string(tally.NotFound) + " not found, " + std::to_string(tally.Failed) + " failed";
    if (tally.PassedOver > 0) {
        text += ", " + Counted(tally.PassedOver, "header", "headers") + " passed over by the locator's rule";
    }
    if (tally.Skipped > 0) text += ", " + Counted(tally.Skipped, "file", "files") + " skipped as this tool's outputs";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", tally.Seconds);
    return text + "; " + Counted(tally.Entries, "entry", "entries") + ", " +
           Counted(static_cast<std::uint64_t>(std::max<std::int64_t>(tally.Bytes, 0)), "byte", "bytes") + " in " +
           seconds;
}

std::string AccountJson(const RunTally& tally) {
    std::string out = "{\"schema_version\":\"";
    out += report::kSchemaVersion;
    const auto field = [&out](std::string_view key, std::uint64_t value) {
        out += ",\"";
        out += key;
        out += "\":";
        out += std::to_string(value);
    };
    out += "\",\"kind\":\"stats\"";
    field("files", tally.Files);
    field("found", tally.Found);
    field("not_found", tally.NotFound);
    field("failed", tally.Failed);
    field("passed_over", tally.PassedOver);
    field("skipped", tally.Skipped);
    field("entries", tally.Entries);
    field("bytes", static_cast<std::uint64_t>(std::max<std::int64_t>(tally.Bytes, 0)));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", tally.Seconds);
    out += ",\"seconds\":";
    out += seconds;
    out += "}\n";
    return out;
}

void RunStatus::Add(listing::Outcome outcome) noexcept {
    if (outcome == listing::Outcome::Failed) failed_ = true;
    if (outcome == listing::Outcome::Listed) listed_ = true;
}

listing::Outcome RunStatus::Result() const noexcept {
    return failed_ ? listing::Outcome::Failed : listed_ ? listing::Outcome::Listed : listing::Outcome::NotFound;
}

int RunCollection(FileSource& source, const RunOptions& options) {
    const auto runStart = std::chrono::steady_clock::now();
    unsigned jobs = std::max(1u, options.Jobs);
    // A thread for a file that is not there only costs its start.
    if (const std::optional<std::uint64_t> total = source.KnownTotal()) {
        jobs = static_cast<unsigned>(std::clamp<std::uint64_t>(*total, 1, jobs));
    }
    OrderedOutput output(platform::kStdout, platform::kStderr, jobs * kWindowPerJob, kHeldBytesPerFile);

    std::mutex sourceMutex;
    std::uint64_t nextIndex = 0;
    RunStatus status;
    std::atomic<std::uint64_t> filesDone = 0;
    std::atomic<std::int64_t> bytesDone = 0;
    std::atomic<std::int64_t> bytesInFlight = 0;  // read so far in the files being examined
    std::atomic<std::uint64_t> found = 0;
    std::atomic<std::uint64_t> notFound = 0;
    std::atomic<std::uint64_t> failed = 0;
    std::atomic<std::uint64_t> entries = 0;
    std::atomic<std::uint64_t> passedOver = 0;
    std::optional<std::uint64_t> knownTotal;
    // The output folder is opened once, here, and held for the whole run;
    // the extraction folder too (made by the caller), with a ledger of its own.
    std::optional<outputs::Writer> writer;
    std::optional<outputs::Writer> extractWriter;
    try {
        if (options.Examine.SideFile || options.Examine.Carve) {
            writer.emplace(options.Examine.OutputDir, std::string(listing::kExistsReason));
        }
        if (options.Extract) extractWriter.emplace(options.Extract->Folder, std::string(listing::kExistsReason));
    } catch (const support::Exception& error) {
        const std::string message = error.FullMessage();
        WriteErrorLine("vexmira: " + report::TerminalText(message, report::PathEncoding(message)));
        return static_cast<int>(listing::Outcome::Failed);
    }
    listing::Options examine = options.Examine;
    // Row by row and count by count, the other reports show every candidate;
    // of a listing without an entry CSV shows only its message. Every
    // candidate is extracted, so none is folded away then.
    examine.FoldRepeats = !options.Csv && !options.Summary && !options.Extract;
    examine.FoldEntryless = options.Csv && !options.Summary;

    const auto work = [&] {
        listing::ProgressMeter meter(bytesInFlight);
        listing::Options mine = examine;
        if (options.Progress) mine.Progress = &meter;
        for (;;) {
            std::optional<SourceItem> item;
            std::uint64_t index = 0;
            {
                std::lock_guard lock(sourceMutex);
                if (output.Failed()) return;
                item = source.Next();
                if (!item) return;
                index = nextIndex++;
                knownTotal = source.KnownTotal();
                // Taken in input order, so that of two inputs with one output the first named has it.
                if (writer) writer->Take(index, item->Path);
                if (extractWriter) extractWriter->Take(index, item->Path);
            }
            const FinishOnExit finished(writer ? &*writer : nullptr, index, item->Path);
            const FinishOnExit extracted(extractWriter ? &*extractWriter : nullptr, index, item->Path);
            std::optional<outputs::WriterOutputs> itemOutputs;
            if (writer) {
                itemOutputs.emplace(*writer, index);
                mine.Outputs = &*itemOutputs;
            }
            try {
                const std::unique_ptr<OrderedOutput::Slot> slot = output.Open(index);
                report::PlainReport plain(*slot, index == 0, options.Quiet);
                report::JsonReport json(*slot);
                if (index == 0 && (options.Csv || (options.Summary && !options.Json))) {
                    slot->Buffer() += options.Csv ? report::CsvHeader(options.Examine.Hashes) : std::string(report::kSummaryHeader);
                    slot->Commit();
                }
                report::CsvReport csv(*slot, options.Quiet);
                report::SummaryReport summary(*slot, options.Json, options.Quiet);
                listing::ListingSink& shown = options.Summary ? static_cast<listing::ListingSink&>(summary)
                                      : options.Csv   ? static_cast<listing::ListingSink&>(csv)
                                      : options.Json  ? static_cast<listing::ListingSink&>(json)
                                                      : plain;
                TallySink tally(shown);
                const bool hideSuspect =
                    report::FoldsSuspect(!options.Csv && !options.Json, options.HideSuspect, options.ShowSuspect);
                report::FilterSink filter(tally, options.OnlyFound, hideSuspect);
                listing::ListingSink& filtered =
                    options.OnlyFound || hideSuspect ? static_cast<listing::ListingSink&>(filter) : tally;
                // Extraction sees every entry, and decides on suspect ones itself.
                std::optional<report::ExtractingSink> extracting;
                if (options.Extract) extracting.emplace(filtered, *extractWriter, *options.Extract, *slot, index);
                listing::ListingSink& sink = extracting ? static_cast<listing::ListingSink&>(*extracting) : filtered;
                const listing::Outcome outcome = item->Error ? listing::ReportUnexaminable(item->Path, *item->Error, sink)
                                                             : listing::Examine(item->Path, mine, sink);
                status.Add(outcome);
                (outcome == listing::Outcome::Listed     ? found
                 : outcome == listing::Outcome::NotFound ? notFound
                                                         : failed) += 1;
                entries += tally.Entries();
                passedOver += tally.PassedOver();
                if (extracting && extracting->Failed()) status.Add(listing::Outcome::Failed);
            } catch (const OutputError&) {
                return;  // recorded by the output; the run reports it
            }
            ++filesDone;
            bytesDone += item->Size;
            meter.Finish();
        }
    };

    // The progress line: only on a terminal, only once the work has taken a while.
    std::mutex progressMutex;
    std::condition_variable progressWake;
    bool finished = false;
    std::thread progress;
    if (options.Progress && platform::IsTerminal(platform::kStderr)) {
        progress = std::thread([&] {
            const auto start = std::chrono::steady_clock::now();
            std::unique_lock lock(progressMutex);
            do {
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (seconds < options.ProgressAfter) continue;
                std::optional<std::uint64_t> total;
                {
                    std::lock_guard sourceLock(sourceMutex);
                    total = knownTotal;
                }
                output.ShowProgress(ProgressText(filesDone, total, bytesDone + bytesInFlight, seconds));
            } while (!progressWake.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; }));
            output.ClearProgress();
        });
    }

    std::vector<std::thread> workers;
    for (unsigned i = 1; i < jobs; ++i) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    if (progress.joinable()) {
        {
            std::lock_guard lock(progressMutex);
            finished = true;
        }
        progressWake.notify_all();
        progress.join();
    }

    if (!output.Failed()) {
        const RunTally tally{.Files = filesDone,
                             .Found = found,
                             .NotFound = notFound,
                             .Failed = failed,
                             .PassedOver = passedOver,
                             .Skipped = source.SkippedOutputs(),
                             .Entries = entries,
                             .Bytes = bytesDone,
                             .Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count()};
        if (options.Stats && options.Json) {
            try {
                const std::unique_ptr<OrderedOutput::Slot> slot = output.Open(nextIndex);
                slot->Buffer() += AccountJson(tally);
                slot->Commit();
            } catch (const OutputError&) {
                // recorded by the output; reported below
            }
        }
        SaySkipped(source);
        // JSON keeps standard error for what no object can hold: its account is the object above.
        if (!options.Json && (options.Stats || (tally.Files > 1 && !options.Quiet))) {
            WriteErrorLine("vexmira: " + AccountText(tally));
        }
    }
    if (output.Failed()) {
        WriteErrorLine("vexmira: cannot write to standard output: " + output.FailureReason());
        return static_cast<int>(listing::Outcome::Failed);
    }
    return static_cast<int>(status.Result());
}

}  // namespace vexmira::cli
