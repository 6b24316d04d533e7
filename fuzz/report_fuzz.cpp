// Any walk result through both reports: every JSON line parses back to the
// values that were walked (paths and names decoded as the line says), the
// same line with runs of repeated entries folded gives back exactly those
// entries once the runs are written out, and plain output, errors included,
// holds no raw control character.
//
// Input: a control byte (low 6 bits: length of the path that follows; 0x40:
// the listing went through the locator), the path's bytes, then the archive.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/compress.hpp"
#include "archive/plausibility.hpp"
#include "cli/output.hpp"
#include "fuzz/memory_file.hpp"
#include "listing/repeated_listings.hpp"
#include "report/json.hpp"
#include "report/plain.hpp"
#include "report/text.hpp"
#include "support/memory_stream.hpp"

namespace {

using namespace vexmira;
using Json = nlohmann::json;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

using fuzz::MemoryFile;

// The bytes a decoded JSON string came from.
std::string Encode(const std::string& utf8, listing::Encoding encoding) {
    if (encoding == listing::Encoding::Utf8) return utf8;
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        if (lead < 0x80) {
            bytes += static_cast<char>(lead);
        } else {
            Check(lead == 0xC2 || lead == 0xC3);  // Latin-1 never needs more
            Check(i + 1 < utf8.size());
            bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<std::uint8_t>(utf8[++i]) & 0x3F));
        }
    }
    return bytes;
}

// Readable text only: line breaks, and no C0, DEL or C1 character.
void CheckReadable(const std::string& text) {
    Check(listing::IsValidUtf8(text));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        Check(byte == '\n' || (byte >= 0x20 && byte != 0x7F));
        if (byte == 0xC2 && i + 1 < text.size()) Check(static_cast<std::uint8_t>(text[i + 1]) >= 0xA0);
    }
}

struct Walked {
    std::string name;
    archive::TCompressedFileInfo info;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t pathLength = std::min<std::size_t>(data[0] & 0x3F, size - 1);
    listing::ListingHead head;
    head.File.assign(reinterpret_cast<const char*>(data + 1), pathLength);
    head.PathEncoding = listing::PathEncoding(head.File);
    head.Located = (data[0] & 0x40) != 0;
    head.Offset = head.Located ? 0 : -1;
    head.OffsetText = "00000000 - 0 Kb";
    head.Listed = head.File;
    head.Messages.push_back({"Except: Cannot open file \"" + head.File + "\". Reason"});
    const std::uint8_t* archiveBytes = data + 1 + pathLength;
    const std::size_t archiveSize = size - 1 - pathLength;
    head.Messages.push_back({std::string(reinterpret_cast<const char*>(archiveBytes), std::min<std::size_t>(archiveSize, 8)),
                             support::ErrorKind::CompressionMethod});  // read as the archive's bytes

    MemoryFile jsonFile;
    MemoryFile foldedFile;
    MemoryFile plainFile;
    MemoryFile errFile;
    cli::FdOutput jsonOut(jsonFile.Fd());
    cli::FdOutput foldedOut(foldedFile.Fd());
    cli::FdOutput plainOut(plainFile.Fd(), errFile.Fd());
    report::JsonReport json(jsonOut);
    report::JsonReport foldedJson(foldedOut);
    listing::RepeatedEntries folded(foldedJson);
    report::PlainReport plainReport(plainOut);
    listing::RepeatedEntries plain(plainReport);

    std::vector<Walked> walked;
    listing::ListingEnd end;
    json.Begin(head);
    folded.Begin(head);
    plain.Begin(head);
    support::MemoryStream stream(archiveBytes, archiveSize);
    archive::TCompress reader;
    archive::WalkSummary walk;
    try {
        reader.WalkArchiveStream(
            stream,
            [&](std::string_view name, const archive::TCompressedFileInfo& info) {
                walked.push_back({std::string(name), info});
                const auto suspect = archive::SuspectReason(name, info, static_cast<std::int64_t>(archiveSize));
                json.Entry(name, info, suspect);
                folded.Entry(name, info, suspect);
                plain.Entry(name, info, suspect);
            },
            &walk);
        end.Walk = walk;
    } catch (const support::Exception& error) {
        end.Error = listing::Text::Of(error);
    }
    end.Result = end.Error ? listing::Outcome::Failed : listing::Outcome::Listed;
    json.End(head, end);
    folded.End(head, end);
    plain.End(head, end);
    jsonOut.Flush();
    foldedOut.Flush();
    plainOut.Flush();

    // JSON: one line that gives back what was walked.
    const std::string line = jsonFile.Contents();
    Check(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1);
    Check(listing::IsValidUtf8(line));
    const Json object = Json::parse(line);
    const listing::Encoding encoding =
        object.at("path_encoding") == "utf-8" ? listing::Encoding::Utf8 : listing::Encoding::Latin1;
    Check(encoding == head.PathEncoding);
    Check(Encode(object.at("file"), encoding) == head.File);
    Check(Encode(object.at("listed"), encoding) == head.File);
    Check(Encode(object.at("messages").at(0), encoding) == head.Messages[0].Bytes);
    Check(Encode(object.at("messages").at(1), listing::Encoding::Latin1) == head.Messages[1].Bytes);
    const Json& entries = object.at("entries");
    Check(entries.size() == walked.size());
    for (std::size_t i = 0; i < walked.size(); ++i) {
        const Json& entry = entries[i];
        const archive::TCompressedFileInfo& info = walked[i].info;
        Check(Encode(entry.at("name"), listing::Encoding::Latin1) == walked[i].name);
        Check(entry.at("full_size") == info.FullSize && entry.at("compressed_size") == info.CompressedSize);
        Check(entry.at("header_offset") == info.HeaderOffset && entry.at("method") == info.Method);
        Check(entry.at("locked") == info.Locked && entry.at("long2") == info.Long2);
        Check(entry.at("word6") == info.Word6 && entry.at("long17") == info.Long17);
        const auto suspect = archive::SuspectReason(walked[i].name, info, static_cast<std::int64_t>(archiveSize));
        Check(suspect ? entry.at("suspect") == std::string(*suspect) : entry.at("suspect").is_null());
    }
    if (end.Error) {
        Check(Encode(object.at("error"), end.Error->FromArchive() ? listing::Encoding::Latin1 : encoding) == end.Error->Bytes);
        Check(object.at("archive_end").is_null());
    } else {
        Check(object.at("error").is_null() && object.at("archive_end") == walk.ArchiveEnd);
    }

    // Folded: the same object once each run is written out.
    Json unfolded = Json::parse(foldedFile.Contents());
    Json runs = Json::array();
    for (const Json& entry : unfolded.at("entries")) {
        const std::int64_t count = entry.contains("also_at") ? entry["also_at"].at("count").get<std::int64_t>() : 0;
        const std::int64_t every = count > 0 ? entry["also_at"].at("every").get<std::int64_t>() : 0;
        Check(count == 0 || every > 0);
        for (std::int64_t k = 0; k <= count; ++k) {
            Json copy = entry;
            copy.erase("also_at");
            copy["header_offset"] = entry.at("header_offset").get<std::int64_t>() + k * every;
            copy["data_offset"] = entry.at("data_offset").get<std::int64_t>() + k * every;
            runs.push_back(copy);
        }
    }
    unfolded["entries"] = runs;
    Check(unfolded == object);

    // Plain: nothing that could drive a terminal, on either stream.
    CheckReadable(plainFile.Contents());
    CheckReadable(errFile.Contents());
    return 0;
}
