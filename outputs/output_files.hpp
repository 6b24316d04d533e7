#pragma once
// The listing's files through the one writer.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "outputs/writer.hpp"
#include "support/output_files.hpp"

namespace vexmira::outputs {

class WriterOutputs final : public support::OutputFiles {
public:
    // `order`: the input's number in the run, so that its places are claimed
    // in input order (see OutputLedger); none outside a run.
    explicit WriterOutputs(Writer& writer, std::optional<std::uint64_t> order = std::nullopt)
        : writer_(writer), order_(order) {}

    std::string PathOf(const std::string& input, const std::string& suffix) const override;
    std::unique_ptr<support::PendingOutput> Start(const std::string& input, const std::string& suffix,
                                                  bool replaceStale) override;

private:
    Writer& writer_;
    std::optional<std::uint64_t> order_;
};

}  // namespace vexmira::outputs
