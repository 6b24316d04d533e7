// Any bytes, scanned from any start: the reader may raise its own errors but
// must never crash, hang, or read out of bounds.

#include <cstddef>
#include <cstdint>

#include "archive/compress.hpp"
#include "support/memory_stream.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexmira;
    if (size == 0) return 0;
    // The first byte picks a start position and whether unknown identifiers are accepted.
    const std::uint8_t control = data[0];
    support::MemoryStream stream(data + 1, size - 1);
    stream.Seek(control & 0x3F, support::SeekOrigin::Beginning);
    archive::TCompress reader;
    if (control & 0x80) reader.OnRecognize = [](const std::string&, bool& recognized) { recognized = true; };
    archive::EntryList list;
    archive::WalkSummary summary;
    try {
        reader.ScanArchiveStream(stream, list, &summary);
    } catch (const support::Exception&) {
        return 0;
    }
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const std::int64_t offset = list.Info(i).HeaderOffset;
        if (offset < 0 || offset >= static_cast<std::int64_t>(size)) __builtin_trap();
    }
    return 0;
}
