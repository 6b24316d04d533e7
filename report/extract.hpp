#pragma once
// --extract: each listing's entries written below the extraction folder as
// listing::ExtractionPlanner decides, through the one writer's folders and
// pending files (held folders, no link followed, nothing replaced without
// --force, each file whole or not at all), with a manifest.jsonl per folder.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "listing/examine.hpp"
#include "listing/extraction.hpp"
#include "outputs/folder.hpp"
#include "outputs/pending_file.hpp"
#include "outputs/writer.hpp"
#include "report/output.hpp"
#include "support/exception.hpp"

namespace vexmira::report {

struct ExtractOptions {
    std::string Folder;           // DIR, made when missing
    bool IncludeSuspect = false;  // write suspect entries too
    bool Force = false;           // replace what an earlier extraction left
    // --nested: how many levels below a listed archive an archive that a
    // written stored entry holds is extracted too (0: none).
    int NestedDepth = 0;
    // When set, each file written is added, by its path, in order: for a
    // caller that hands the list on.
    std::vector<std::string>* Written = nullptr;
};

inline constexpr int kDefaultNestedDepth = 4;
inline constexpr int kDeepestNesting = 8;

// Passes one FILE's listings on to `inner`, and writes each listing's entries
// to DIR/<FILE's path, mapped as --output-dir maps it>.extracted/<OFFSET>/,
// DIR being the folder `writer` writes below; FILE.extracted is claimed in
// its ledger for input `order`, so that two inputs mapped to one such
// folder never write into it both: the second is refused.
// An entry whose data runs past the end of the file, or overlaps an entry
// written before, is not written: the manifest says why, a line goes to
// `errors`, and the outcome stays. A file that cannot be written ends the
// listing's extraction: its error becomes the listing's, and Failed() says so.
class ExtractingSink final : public listing::ListingSink {
public:
    ExtractingSink(listing::ListingSink& inner, outputs::Writer& writer, const ExtractOptions& options,
                   report::LineOutput& errors, std::optional<std::uint64_t> order = std::nullopt);
    // For an archive inside a written entry, `level` levels down: its folders
    // go to ROOT/<stem>.extracted/OFFSET/, ROOT being rootPath.
    ExtractingSink(listing::ListingSink& inner, const outputs::Folder& root, std::string rootPath, std::string stem,
                   const ExtractOptions& options, report::LineOutput& errors, int level);
    ~ExtractingSink() override;

    void Begin(const listing::ListingHead& head) override;
    void Resume(const listing::ListingHead& head, std::uint64_t entries) override;
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

    bool Failed() const noexcept { return failed_; }

private:
    void Start(const listing::ListingHead& head);
    // Called in a catch block: the listing's extraction ends with `error`.
    void Fail(const support::Exception& error);
    // Makes the listing's folder and starts its manifest.
    void Open(const listing::ListingHead& head);
    void Extract(std::string_view name, const archive::TCompressedFileInfo& info,
                 std::optional<std::string_view> suspect, const listing::StoredData* data);
    // Writes the plan's bytes to its file; returns their SHA-256.
    std::string Write(const listing::EntryExtraction& plan, const std::string& path, const listing::StoredData* data);
    // Extracts what the file just written as `name` holds, one level down.
    void ExtractNested(support::FileStream& written, const std::string& name, const std::string& path);

    listing::ListingSink& inner_;
    outputs::Writer* writer_ = nullptr;          // listed inputs
    std::optional<std::uint64_t> order_;         // with writer_
    const outputs::Folder* root_ = nullptr;      // nested
    std::string root_path_;                      // nested: root_'s, for messages
    std::optional<std::string> stem_;  // nested: the written entry's name
    int level_ = 0;                    // how deep below a listed archive
    const ExtractOptions& options_;
    report::LineOutput& errors_;
    listing::ExtractionPlanner planner_;
    const listing::ListingHead* head_ = nullptr;
    std::optional<outputs::Folder> folder_;  // this listing's, while it is written
    std::string folder_path_;                // for messages
    std::unique_ptr<outputs::PendingFile> manifest_;
    std::optional<listing::Text> failure_;  // the first write that failed in this listing
    std::exception_ptr failure_cause_;      // with failure_: the error itself
    bool opened_ = false;  // Open ran for this listing
    bool failed_ = false;
    std::vector<std::uint8_t> buffer_;
    std::string line_;
};

}  // namespace vexmira::report
