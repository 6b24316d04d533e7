#include "outputs/output_files.hpp"

#include <utility>

namespace vexmira::outputs {
namespace {

class WrittenFile final : public support::PendingOutput {
public:
    WrittenFile(Writer& writer, std::unique_ptr<PendingFile> file, std::string input)
        : writer_(writer), file_(std::move(file)), input_(std::move(input)) {}

    support::Stream& Stream() noexcept override { return file_->Stream(); }
    const std::string& Path() const noexcept override { return file_->Path(); }
    void Commit() override { writer_.Commit(*file_, input_); }

private:
    Writer& writer_;
    std::unique_ptr<PendingFile> file_;
    std::string input_;
};

}  // namespace

std::string WriterOutputs::PathOf(const std::string& input, const std::string& suffix) const {
    return writer_.PathOf(input, suffix);
}

std::unique_ptr<support::PendingOutput> WriterOutputs::Start(const std::string& input, const std::string& suffix,
                                                             bool replaceStale) {
    const Existing existing = replaceStale ? Existing::ReplaceStale : Existing::Keep;
    return std::make_unique<WrittenFile>(writer_, writer_.Start(input, suffix, existing, order_), input);
}

}  // namespace vexmira::outputs
