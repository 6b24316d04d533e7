#include "report/extract.hpp"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#ifdef __linux__
#include <unistd.h>
#endif

#include "listing/plan.hpp"
#include "outputs/output_files.hpp"
#include "listing/digest.hpp"
#include "outputs/places.hpp"
#include "report/json.hpp"
#include "report/text.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"

namespace vexmira::report {
namespace {

// The copy's step: memory stays at this whatever an entry's size.
constexpr std::size_t kCopyStep = std::size_t{1} << 20;
#ifdef __linux__
// Below this a thread costs more than it saves.
constexpr std::int64_t kThreadedHash = std::int64_t{4} << 20;

// Joins a thread however the scope is left, so none outlives what it reads.
class JoinOnExit {
public:
    explicit JoinOnExit(std::thread& thread) noexcept : thread_(thread) {}
    ~JoinOnExit() {
        if (thread_.joinable()) thread_.join();
    }
    JoinOnExit(const JoinOnExit&) = delete;
    JoinOnExit& operator=(const JoinOnExit&) = delete;

private:
    std::thread& thread_;
};
#endif

std::string LowerHex(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 0xF];
    }
    return hex;
}

[[noreturn]] void ThrowShort(const std::string& file) {
    throw support::EFOpenError(support::OpenErrorMessage(file, "The file ended before the entry's stored data did"));
}

#ifdef __linux__
// In the kernel, where both ends are files that allow it; false (nothing
// copied) where they do not, so the caller copies through its buffer.
bool KernelCopy(support::Stream& from, std::int64_t start, std::int64_t size, support::FileStream& to,
                const std::string& file, const std::string& path) {
    auto* input = dynamic_cast<support::FileStream*>(&from);
    if (input == nullptr || size == 0) return false;
    loff_t in = start;
    loff_t out = 0;
    for (std::int64_t left = size; left > 0;) {
        const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t{1} << 30));
        const ssize_t copied = copy_file_range(input->Native().Descriptor(), &in, to.Native().Descriptor(), &out, step, 0);
        if (copied < 0) {
            const int code = errno;
            if (left == size && (code == EXDEV || code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == EBADF)) {
                return false;
            }
            throw support::EFCreateError(support::CreateErrorMessage(path, support::SystemErrorText(code)));
        }
        if (copied == 0) ThrowShort(file);
        left -= copied;
    }
    return true;
}
#endif

}  // namespace

ExtractingSink::ExtractingSink(listing::ListingSink& inner, outputs::Writer& writer, const ExtractOptions& options,
                               report::LineOutput& errors, std::optional<std::uint64_t> order)
    : inner_(inner),
      writer_(&writer),
      order_(order),
      options_(options),
      errors_(errors),
      planner_(options.IncludeSuspect) {}

ExtractingSink::ExtractingSink(listing::ListingSink& inner, const outputs::Folder& root, std::string rootPath,
                               std::string stem, const ExtractOptions& options, report::LineOutput& errors, int level)
    : inner_(inner),
      root_(&root),
      root_path_(std::move(rootPath)),
      stem_(std::move(stem)),
      level_(level),
      options_(options),
      errors_(errors),
      planner_(options.IncludeSuspect) {}

ExtractingSink::~ExtractingSink() = default;

void ExtractingSink::Start(const listing::ListingHead& head) {
    head_ = &head;
    folder_.reset();
    manifest_.reset();
    failure_.reset();
    failure_cause_ = nullptr;
    opened_ = false;
    planner_.BeginListing();
}

void ExtractingSink::Open(const listing::ListingHead& head) {
    opened_ = true;
    if (head.ListedBytes == nullptr || head.Offset < 0) return;  // nothing is listed
    const std::string suffix(listing::kExtractedSuffix);
    const std::string offsetName = listing::ExtractionFolderName(head.Offset);
    folder_path_ = outputs::Joined(writer_ != nullptr ? writer_->PathOf(head.File, suffix)
                                                      : outputs::Joined(root_path_, *stem_ + suffix),
                                   offsetName);
    const std::string manifestPath = outputs::Joined(folder_path_, std::string(listing::kManifestName));
    try {
        // A nested level is below a folder its listed input claimed already.
        const outputs::Folder extracted = writer_ != nullptr ? writer_->StartFolder(head.File, suffix, order_)
                                                             : root_->Below({*stem_ + suffix}, manifestPath);
        folder_ = extracted.Below({offsetName}, manifestPath);
        // Refused before anything is written: an earlier extraction is there.
        if (!options_.Force && folder_->IdOf(std::string(listing::kManifestName))) {
            throw support::EFCreateError(support::CreateErrorMessage(manifestPath, listing::kExistsReason),
                                         support::SystemCause{EEXIST, manifestPath, std::string(listing::kExistsReason)});
        }
        manifest_ = std::make_unique<outputs::PendingFile>(
            folder_->Below({}, manifestPath), std::string(listing::kManifestName), manifestPath,
            options_.Force ? outputs::Existing::ReplaceStale : outputs::Existing::Keep, std::string(listing::kExistsReason));
    } catch (const support::Exception& error) {
        Fail(error);
        folder_.reset();
    }
}

void ExtractingSink::Fail(const support::Exception& error) {
    failure_ = listing::Text::Of(error);
    failure_cause_ = std::current_exception();
}

void ExtractingSink::Begin(const listing::ListingHead& head) {
    Start(head);
    inner_.Begin(head);
}

void ExtractingSink::Resume(const listing::ListingHead& head, std::uint64_t entries) {
    Start(head);
    inner_.Resume(head, entries);
}

void ExtractingSink::Entry(std::string_view name, const archive::TCompressedFileInfo& info,
                           std::optional<std::string_view> suspect) {
    Extract(name, info, suspect, nullptr);
    inner_.Entry(name, info, suspect);
}

void ExtractingSink::EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                                   std::optional<std::string_view> suspect, const listing::StoredData& data) {
    Extract(name, info, suspect, &data);
    inner_.EntryWithData(name, info, suspect, data);
}

std::string ExtractingSink::Write(const listing::EntryExtraction& plan, const std::string& path,
                                  const listing::StoredData* data) {
    support::Stream& from = *head_->ListedBytes;
    const std::int64_t kept = from.Position();
    outputs::PendingFile file(folder_->Below({}, path), *plan.Name, path,
                              options_.Force ? outputs::Existing::ReplaceStale : outputs::Existing::Keep,
                              std::string(listing::kExistsReason));
    support::FileStream& to = file.Stream();
    listing::Sha256 digest;
    bool copied = false;
#ifdef __linux__
    auto* input = dynamic_cast<support::FileStream*>(&from);
    if (input != nullptr) {
        // The digest is taken on a second core while the kernel copies: both
        // read the same range of the same open file. Without --hash it is
        // what bounds the time, not the copy.
        const bool known = data != nullptr && !data->Missing;
        std::vector<std::uint8_t> hashBuffer;
        bool readFailed = false;
        const auto hash = [&] {
            hashBuffer.resize(static_cast<std::size_t>(std::min<std::int64_t>(plan.Size, kCopyStep)));
            for (std::int64_t at = 0; at < plan.Size;) {
                const auto want = static_cast<std::size_t>(std::min<std::int64_t>(plan.Size - at, kCopyStep));
                const std::size_t got = input->Native().ReadAt(plan.Start + at, hashBuffer.data(), want);
                if (got == 0) {
                    readFailed = true;
                    return;
                }
                digest.Add(hashBuffer.data(), got);
                at += static_cast<std::int64_t>(got);
            }
        };
        std::thread hashing;
        if (!known && plan.Size >= kThreadedHash) hashing = std::thread(hash);
        const JoinOnExit joined(hashing);
        copied = KernelCopy(from, plan.Start, plan.Size, to, head_->File, path);
        if (hashing.joinable()) {
            hashing.join();
        } else if (copied && !known) {
            hash();
        }
        if (readFailed) throw support::EFOpenError(support::OpenErrorMessage(head_->File, "Read failed"));
        if (!copied) digest = listing::Sha256();
    }
#endif
    if (!copied) {
        buffer_.resize(kCopyStep);
        if (from.Seek(plan.Start, support::SeekOrigin::Beginning) != plan.Start) {
            throw support::EFOpenError(support::OpenErrorMessage(head_->File, "Seek failed"));
        }
        for (std::int64_t left = plan.Size; left > 0;) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyStep));
            const std::size_t got = from.Read(buffer_.data(), want);
            if (got == 0) ThrowShort(head_->File);
            digest.Add(buffer_.data(), got);
            to.WriteBuffer(buffer_.data(), got);
            left -= static_cast<std::int64_t>(got);
        }
        from.Seek(kept, support::SeekOrigin::Beginning);
    }
    file.Commit();
    // With --hash the listing read the same bytes already.
    std::string sha256 = copied && data != nullptr && !data->Missing ? data->Sha256 : digest.Hex();
    if (!plan.Raw && level_ < options_.NestedDepth) ExtractNested(to, *plan.Name, path);
    return sha256;
}

namespace {

// What a nested listing shows: nothing; only its files are wanted.
class NoReport final : public listing::ListingSink {
public:
    void Begin(const listing::ListingHead&) override {}
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const listing::ListingHead&, const listing::ListingEnd&) override {}
};

}  // namespace

void ExtractingSink::ExtractNested(support::FileStream& written, const std::string& name, const std::string& path) {
    // Read through the descriptor that wrote it, so what is examined is what
    // was written, whatever its name leads to by now. Each level's input is
    // a stored entry of the one above, so strictly smaller: no cycle, and at
    // most depth times the input is written in all.
    listing::Options nested;
    nested.Input = &written;
    NoReport none;
    ExtractingSink below(none, *folder_, folder_path_, name, options_, errors_, level_ + 1);
    listing::Examine(path, nested, below);
    if (below.Failed()) failed_ = true;
}

void ExtractingSink::Extract(std::string_view name, const archive::TCompressedFileInfo& info,
                             std::optional<std::string_view> suspect, const listing::StoredData* data) {
    // The folder is made at the first entry: a listing without one leaves nothing.
    if (!opened_) Open(*head_);
    if (!folder_ || !manifest_ || failure_) return;
    const listing::EntryExtraction plan = planner_.PlanListed(*head_, name, info, suspect);
    std::optional<std::string> error = plan.NotWritten;
    std::optional<std::string> sha256;
    if (plan.Name) {
        const std::string path = outputs::Joined(folder_path_, *plan.Name);
        try {
            sha256 = Write(plan, path, data);
            if (options_.Written != nullptr) options_.Written->push_back(path);
        } catch (const support::Exception& failure) {
            Fail(failure);
            error = failure.FullMessage();
        }
    } else if (!suspect || options_.IncludeSuspect) {
        // Incomplete or overlapping data is no error of the run, but is said.
        std::string line = "vexmira: ";
        line += report::TerminalText(head_->File, head_->PathEncoding);
        line += ": entry ";
        line += report::TerminalText(name, listing::Encoding::Latin1);
        line += " at header " + std::to_string(info.HeaderOffset) + " not extracted: " + *plan.NotWritten;
        errors_.ErrorLine(line);
    }
    // The manifest's line: the entry as JSON has it, then what became of it.
    // (nested: the entry's own "size" is the dialog's text).
    line_ = "{\"entry\":{";
    report::AppendJsonEntryFields(line_, {name, info, suspect, nullptr});
    line_ += "},\"name_bytes\":\"" + LowerHex(name) + "\",\"path\":";
    if (sha256) {
        report::AppendJsonString(line_, *plan.Name, listing::Encoding::Latin1);
    } else {
        line_ += "null";
    }
    line_ += plan.Raw ? ",\"raw\":true" : ",\"raw\":false";
    line_ += ",\"why_raw\":";
    if (plan.WhyRaw) {
        report::AppendJsonString(line_, *plan.WhyRaw, listing::Encoding::Latin1);
    } else {
        line_ += "null";
    }
    line_ += ",\"size\":";
    line_ += sha256 ? std::to_string(plan.Size) : std::string("null");
    line_ += ",\"sha256\":";
    line_ += sha256 ? "\"" + *sha256 + "\"" : std::string("null");
    line_ += ",\"error\":";
    if (error) {
        report::AppendJsonString(line_, *error, head_->PathEncoding);
    } else {
        line_ += "null";
    }
    line_ += "}\n";
    try {
        manifest_->Stream().WriteBuffer(line_.data(), line_.size());
    } catch (const support::Exception& failure) {
        Fail(failure);
    }
}

void ExtractingSink::End(const listing::ListingHead& head, const listing::ListingEnd& end) {
    if (manifest_ && !failure_) {
        try {
            manifest_->Commit();
        } catch (const support::Exception& failure) {
            Fail(failure);
        }
    }
    manifest_.reset();
    folder_.reset();
    if (!failure_) {
        inner_.End(head, end);
        return;
    }
    failed_ = true;
    listing::ListingEnd shown = end;
    if (!shown.Error) {
        shown.Error = std::move(failure_);
        shown.Failure = failure_cause_;
        shown.Result = listing::Outcome::Failed;
    }
    failure_.reset();
    inner_.End(head, shown);
}

}  // namespace vexmira::report
