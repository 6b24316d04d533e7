#pragma once
// A listing's files through the one writer (outputs::Writer).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "listing/examine.hpp"
#include "outputs/writer.hpp"

namespace vexmira::cli {

// Why a carve is refused where a file is already: the tool's words.
inline constexpr std::string_view kCarveExistsReason = "The file exists; --force replaces it";

class WriterOutputs final : public listing::OutputFiles {
public:
    // `order`: the input's number in the run, so that its places are claimed
    // in input order (see outputs::OutputLedger); none outside a run.
    explicit WriterOutputs(outputs::Writer& writer, std::optional<std::uint64_t> order = std::nullopt)
        : writer_(writer), order_(order) {}

    std::string PathOf(const std::string& input, const std::string& suffix) const override;
    std::unique_ptr<listing::PendingOutput> Start(const std::string& input, const std::string& suffix,
                                         bool replaceStale) override;

private:
    outputs::Writer& writer_;
    std::optional<std::uint64_t> order_;
};

// listing::CarveArchive next to FILE or below outputDir, made when missing,
// through a writer of its own.
std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         const std::optional<std::string>& outputDir);

}  // namespace vexmira::cli
