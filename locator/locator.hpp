#pragma once
// Finds an archive embedded in a carrier file and copies it out to the side file.

#include <cstdint>
#include <string>

namespace vexmira::locator {

// What the locator reports to; the dialog backs it with its controls, the
// command-line tool and the tests with their own.
class Display {
public:
    virtual ~Display() = default;
    virtual void SetProgressRange(std::int32_t maximum) = 0;  // minimum is always 0
    virtual void SetProgressPosition(std::int32_t position) = 0;
    virtual void SetOffsetText(const std::string& text) = 0;
    // Waits until the user has seen it.
    virtual void ShowMessage(const std::string& text) = 0;
};

// Scans the file at inputPath; on success writes inputPath + "$$$" and returns
// the archive's offset, else -1. Errors of the file layer are shown as
// "Except: " + message and the offset known at that moment is returned.
std::int64_t Rip_ARC_Archive(const std::string& inputPath, Display& display);

}  // namespace vexmira::locator
