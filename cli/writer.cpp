#include "cli/writer.hpp"

#include <utility>

#include "outputs/places.hpp"

namespace vexmira::cli {
namespace {

class WrittenFile final : public listing::PendingOutput {
public:
    WrittenFile(outputs::Writer& writer, std::unique_ptr<outputs::PendingFile> file, std::string input)
        : writer_(writer), file_(std::move(file)), input_(std::move(input)) {}

    support::Stream& Stream() noexcept override { return file_->Stream(); }
    const std::string& Path() const noexcept override { return file_->Path(); }
    void Commit() override { writer_.Commit(*file_, input_); }

private:
    outputs::Writer& writer_;
    std::unique_ptr<outputs::PendingFile> file_;
    std::string input_;
};

}  // namespace

std::string WriterOutputs::PathOf(const std::string& input, const std::string& suffix) const {
    return writer_.PathOf(input, suffix);
}

std::unique_ptr<listing::PendingOutput> WriterOutputs::Start(const std::string& input, const std::string& suffix,
                                                    bool replaceStale) {
    const outputs::Existing existing = replaceStale ? outputs::Existing::ReplaceStale : outputs::Existing::Keep;
    return std::make_unique<WrittenFile>(writer_, writer_.Start(input, suffix, existing, order_), input);
}

std::string CarveArchive(support::Stream& input, const std::string& file, std::int64_t offset, std::int64_t end,
                         const std::optional<std::string>& outputDir) {
    if (outputDir) outputs::MakeOutputFolder(*outputDir);
    outputs::Writer writer(outputDir);
    WriterOutputs outputs(writer);
    return listing::CarveArchive(input, file, offset, end, outputs);
}

}  // namespace vexmira::cli
