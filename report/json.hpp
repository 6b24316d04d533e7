#pragma once
// One JSON object per listing on one line, for programs; its head and entry
// keys are the field table's (listing/fields.hpp).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "report/output.hpp"

namespace vexmira::report {

// The version of the JSON contract, "MAJOR.MINOR": a new key raises MINOR, a
// changed or removed key raises MAJOR. share/vexmira/vexmira.schema.json
// describes it.
inline constexpr std::string_view kSchemaVersion = "2.5";

// An entry's fields as its JSON object has them, without the braces, so
// that another object (--extract's manifest) can hold them too.
void AppendJsonEntryFields(std::string& out, const listing::EntryView& entry);

// One JSON object per listing on one line, written as the listing goes:
// what is only known at the end (error, archive_end, truncated,
// trailing_bytes) follows the entries.
class JsonReport final : public listing::ListingSink {
public:
    explicit JsonReport(LineOutput& out) : out_(out) {}
    void Begin(const listing::ListingHead& head) override;
    // The rest of a line another report began.
    void Resume(const listing::ListingHead&, std::uint64_t entries) override { first_entry_ = entries == 0; }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override;
    // With sha256, entropy and data_error.
    void EntryWithData(std::string_view name, const archive::TCompressedFileInfo& info,
                       std::optional<std::string_view> suspect, const listing::StoredData& data) override;
    // The entry's object with "also_at".
    void EntryRun(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more) override;
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override;

private:
    void AddEntry(std::string_view name, const archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const listing::ShiftedCopies& more,
                  const listing::StoredData* data = nullptr);

    LineOutput& out_;
    bool first_entry_ = true;
};

}  // namespace vexmira::report
