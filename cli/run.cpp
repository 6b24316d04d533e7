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
#include "cli/platform.hpp"
#include "cli/writer.hpp"
#include "report/csv.hpp"
#include "report/filter.hpp"
#include "report/json.hpp"
#include "report/plain.hpp"
#include "report/summary.hpp"
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

}  // namespace

void RunStatus::Add(listing::Outcome outcome) noexcept {
    if (outcome == listing::Outcome::Failed) failed_ = true;
    if (outcome == listing::Outcome::Listed) listed_ = true;
}

listing::Outcome RunStatus::Result() const noexcept {
    return failed_ ? listing::Outcome::Failed : listed_ ? listing::Outcome::Listed : listing::Outcome::NotFound;
}

int RunCollection(FileSource& source, const RunOptions& options) {
    const unsigned jobs = std::max(1u, options.Jobs);
    OrderedOutput output(platform::kStdout, platform::kStderr, jobs * kWindowPerJob, kHeldBytesPerFile);

    std::mutex sourceMutex;
    std::uint64_t nextIndex = 0;
    RunStatus status;
    std::atomic<std::uint64_t> filesDone = 0;
    std::atomic<std::int64_t> bytesDone = 0;
    std::atomic<std::int64_t> bytesInFlight = 0;  // read so far in the files being examined
    std::optional<std::uint64_t> knownTotal;
    // The output folder is opened once, here, and held for the whole run.
    std::optional<outputs::Writer> writer;
    const bool writes = options.Examine.SideFile || options.Examine.Carve;
    if (writes) {
        try {
            writer.emplace(options.Examine.OutputDir, std::string(kCarveExistsReason));
        } catch (const support::Exception& error) {
            const std::string message = error.FullMessage();
            WriteErrorLine("vexmira: " + report::TerminalText(message, report::PathEncoding(message)));
            return static_cast<int>(listing::Outcome::Failed);
        }
    }
    // The extraction folder too, made by the caller.
    std::optional<outputs::Folder> extractRoot;
    if (options.Extract) {
        try {
            extractRoot = outputs::Folder::Open(options.Extract->Folder, options.Extract->Folder);
        } catch (const support::Exception& error) {
            const std::string message = error.FullMessage();
            WriteErrorLine("vexmira: " + report::TerminalText(message, report::PathEncoding(message)));
            return static_cast<int>(listing::Outcome::Failed);
        }
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
            }
            const FinishOnExit finished(writer ? &*writer : nullptr, index, item->Path);
            std::optional<WriterOutputs> itemOutputs;
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
                report::SummaryReport summary(*slot, options.Json);
                listing::ListingSink& shown = options.Summary ? static_cast<listing::ListingSink&>(summary)
                                      : options.Csv   ? static_cast<listing::ListingSink&>(csv)
                                      : options.Json  ? static_cast<listing::ListingSink&>(json)
                                                      : plain;
                report::FilterSink filter(shown, options.OnlyFound, options.HideSuspect);
                listing::ListingSink& filtered = options.OnlyFound || options.HideSuspect ? static_cast<listing::ListingSink&>(filter) : shown;
                std::optional<ExtractingSink> extracting;
                if (options.Extract) extracting.emplace(filtered, *extractRoot, *options.Extract, *slot);
                listing::ListingSink& sink = extracting ? static_cast<listing::ListingSink&>(*extracting) : filtered;
                const listing::Outcome outcome = item->Error ? listing::ReportUnexaminable(item->Path, *item->Error, sink)
                                                    : listing::Examine(item->Path, mine, sink);
                status.Add(outcome);
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

    if (output.Failed()) {
        WriteErrorLine("vexmira: cannot write to standard output: " + output.FailureReason());
        return static_cast<int>(listing::Outcome::Failed);
    }
    return static_cast<int>(status.Result());
}

}  // namespace vexmira::cli
