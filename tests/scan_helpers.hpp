#pragma once
// Shared by the reader tests: scan bytes held in memory.

#include "archive/compress.hpp"
#include "support/memory_stream.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::testing {

inline archive::EntryList Scan(const Bytes& bytes, archive::WalkSummary* summary = nullptr, std::int64_t start = 0) {
    support::MemoryStream stream(bytes);
    stream.Seek(start, support::SeekOrigin::Beginning);
    archive::TCompress reader;
    archive::EntryList list;
    reader.ScanArchiveStream(stream, list, summary);
    return list;
}

inline std::vector<std::string> Names(const archive::EntryList& list) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < list.Count(); ++i) names.emplace_back(list.Name(i));
    return names;
}

}  // namespace vexmira::testing
