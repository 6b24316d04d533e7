#pragma once
// Where a program's files go, as the listing sees it: started under a
// temporary name, put in place whole or not at all. The one writer
// (outputs/) implements it; the listing only calls it.

#include <memory>
#include <string>

#include "support/stream.hpp"

namespace vexmira::support {

// A file a listing writes (a side file, a carve): written under a temporary
// name and put in place whole by Commit, or removed when dropped.
class PendingOutput {
public:
    virtual ~PendingOutput() = default;
    virtual support::Stream& Stream() noexcept = 0;
    virtual const std::string& Path() const noexcept = 0;
    // Raises support::EFCreateError naming the file, once its temporary file is gone.
    virtual void Commit() = 0;
};

// Where a listing's files go: the tool's and the module's one writer
// (outputs::WriterOutputs over outputs::Writer). The page has none, and writes nothing.
class OutputFiles {
public:
    virtual ~OutputFiles() = default;
    // Where `input`'s output `suffix` goes, for messages.
    virtual std::string PathOf(const std::string& input, const std::string& suffix) const = 0;
    // Starts it. `replaceStale`: a name found taken when it is put in place
    // is replaced when it holds a regular file with no other name that may
    // be written; otherwise anything there is kept and the commit refused.
    // Raises support::EFCreateError.
    virtual std::unique_ptr<PendingOutput> Start(const std::string& input, const std::string& suffix,
                                                 bool replaceStale) = 0;
};

}  // namespace vexmira::support
