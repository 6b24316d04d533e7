// Writes the seed corpora of the locator and file stream fuzzers: scripts for
// the cases that matter at the edges (see locator_script.hpp and
// stream_script.hpp for their layout), one file each, into DIR/locator and
// DIR/file_stream.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_script.hpp"
#include "fuzz/locator_script.hpp"
#include "fuzz/stream_script.hpp"

namespace {

using vexmira::fuzz::ScriptWriter;

void Save(const std::filesystem::path& path, const ScriptWriter& script) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(script.Bytes().data()), static_cast<std::streamsize>(script.Bytes().size()));
    if (!out) {
        std::cerr << "cannot write " << path << "\n";
        std::exit(1);
    }
}

namespace loc = vexmira::fuzz::locator_script;

// The header every generated locator script starts with: flags, the start
// position when flagged, the pair-search slice, the block check, the chunk,
// the size.
ScriptWriter LocatorHeader(std::uint8_t flags, std::uint16_t size, std::uint16_t start = 0, std::uint8_t block = 0,
                           std::int8_t blockShift = 0, std::uint8_t chunk = 7) {
    ScriptWriter script;
    script.U8(flags);
    if (flags & loc::kStartOffset) script.U16(start);
    script.U16(0).U16(0xFFFF).U8(3);                           // pair slice: all of it, misaligned by 3
    script.U8(block).I8(blockShift).U16(4096).U8(0).U8(0);   // block: full length, full room, no fetch limit
    script.U8(chunk);                                          // chunks of (chunk + 1) * 521 bytes
    if (!(flags & loc::kRaw)) script.U16(size).U8(0).U8('.');  // filler '.'
    return script;
}

// A candidate at k * 4032 + 4096 + d, the letter picked by `letter`.
void CandidateAtBlockEnd(ScriptWriter& script, std::uint8_t k, std::int8_t d, std::uint8_t extra = 0,
                         std::uint8_t letter = 0) {
    script.U8(loc::Op(loc::Piece::Candidate, loc::Anchor::BlockEnd, extra)).U8(k).I8(d).U8(letter);
}

void CandidateAt(ScriptWriter& script, std::uint16_t at, std::uint8_t extra = 0, std::uint8_t letter = 0) {
    script.U8(loc::Op(loc::Piece::Candidate, loc::Anchor::Absolute, extra)).U16(at).U8(letter);
}

void WriteLocatorSeeds(const std::filesystem::path& dir) {
    using loc::Anchor;
    using loc::Piece;
    using loc::SizeClass;
    const auto blocks = loc::Flags(SizeClass::Blocks);
    const auto blocksOnFile = loc::Flags(SizeClass::Blocks, loc::kAlsoFileStream);

    Save(dir / "empty", ScriptWriter());

    ScriptWriter twoInOneBlock = LocatorHeader(blocks, 10000);
    CandidateAt(twoInOneBlock, 100);
    CandidateAt(twoInOneBlock, 3000);
    CandidateAt(twoInOneBlock, 9000);
    Save(dir / "two-in-one-block", twoInOneBlock);

    // 4050: bytes 56 and 57 lie in the next block; a later candidate there
    // does not count. Over the real file too.
    ScriptWriter pastBlockEnd = LocatorHeader(blocksOnFile, 10000);
    CandidateAtBlockEnd(pastBlockEnd, 0, -46);
    CandidateAt(pastBlockEnd, 4100);
    Save(dir / "test-bytes-past-the-block", pastBlockEnd);

    ScriptWriter rejected = LocatorHeader(blocks, 10000);
    CandidateAtBlockEnd(rejected, 0, -46, 1);  // 'G' at +56
    CandidateAt(rejected, 5000, 2);             // 'P' at +57
    CandidateAt(rejected, 7000, 0, 6);          // "CUS"
    CandidateAt(rejected, 9000);
    Save(dir / "rejected-g-p-cus", rejected);

    ScriptWriter splitSignature = LocatorHeader(blocks, 10000);
    CandidateAtBlockEnd(splitSignature, 0, -2);
    CandidateAtBlockEnd(splitSignature, 1, -1);
    Save(dir / "signature-split-by-block-end", splitSignature);

    ScriptWriter overlap = LocatorHeader(blocks, 20000, 0, 1, -40);  // block check on the overlap
    CandidateAtBlockEnd(overlap, 0, -56);
    CandidateAt(overlap, 4200);
    Save(dir / "in-the-overlap", overlap);

    ScriptWriter nearEnd = LocatorHeader(loc::Flags(SizeClass::Small, loc::kAlsoFileStream), 9000);
    // 57 bytes left with a 'G' at +56 (rejected), 20 left (a candidate), 5 left (none).
    nearEnd.U8(loc::Op(Piece::Candidate, Anchor::FileEnd)).U8(57).U8(0);
    nearEnd.U8(loc::Op(Piece::Byte, Anchor::PreviousPlus56)).U8('G');
    nearEnd.U8(loc::Op(Piece::Candidate, Anchor::FileEnd)).U8(20).U8(1);
    nearEnd.U8(loc::Op(Piece::Candidate, Anchor::FileEnd)).U8(5).U8(2);
    Save(dir / "near-the-end", nearEnd);

    // Candidates across the edge of chunks of 20 * 521 bytes: the size
    // operand 1000 gives a file of 10420 - 8192 + 1000 bytes.
    ScriptWriter chunk = LocatorHeader(loc::Flags(SizeClass::Chunk, loc::kAlsoFileStream | loc::kMoveInCallback), 1000,
                                       0, 0, 0, 19);
    chunk.U8(loc::Op(Piece::Candidate, Anchor::ChunkEdge)).I8(-3).U8(0);
    chunk.U8(loc::Op(Piece::Candidate, Anchor::ChunkEdge)).I8(5).U8(2);
    chunk.U8(loc::Op(Piece::SignaturePrefix, Anchor::ChunkEdge)).I8(-40).U8(4);
    Save(dir / "across-the-chunk-edge", chunk);

    // The file grows once open and in the callbacks; neither scan follows it.
    ScriptWriter grows = LocatorHeader(loc::Flags(SizeClass::Small, loc::kAlsoFileStream | loc::kGrowFile), 5000);
    CandidateAt(grows, 4990);
    CandidateAt(grows, 100);
    Save(dir / "growing-file", grows);

    ScriptWriter dense = LocatorHeader(loc::Flags(SizeClass::Small, loc::kStartOffset), 12000, 1000);
    dense.U8(loc::Op(Piece::Run, Anchor::Absolute, 0)).U16(500).U8(255);
    dense.U8(loc::Op(Piece::Run, Anchor::BlockEnd, 3)).U8(0).I8(-100).U8(40);
    dense.U8(loc::Op(Piece::Run, Anchor::BlockEnd, 1)).U8(1).I8(-20).U8(60);
    Save(dir / "dense-pairs-from-an-offset", dense);

    ScriptWriter raw = LocatorHeader(loc::kRaw, 0);
    const std::string_view bytes = "..SPIS\x1a" "LZH..SPSPIS\x1a" "N";
    raw.Raw(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    Save(dir / "raw", raw);
}

namespace str = vexmira::fuzz::stream_script;

// `limit`: the read-ahead's operand; 16000 makes it 68096 bytes.
ScriptWriter StreamHeader(std::uint8_t flags, std::uint16_t size, std::uint16_t limit = 16000) {
    ScriptWriter script;
    script.U8(flags).U8(0x5A).U16(limit);
    if (((flags >> str::kSizeClassShift) & 3) == static_cast<std::uint8_t>(str::SizeClass::Tiny)) {
        script.U8(static_cast<std::uint8_t>(size));
    } else {
        script.U16(size);
    }
    return script;
}

ScriptWriter& Do(ScriptWriter& script, str::Op op) { return script.U8(static_cast<std::uint8_t>(op)); }
ScriptWriter& Seek(ScriptWriter& script, str::Op op, str::Offset offset) {
    return Do(script, op).U8(static_cast<std::uint8_t>(offset));
}

void WriteStreamSeeds(const std::filesystem::path& dir) {
    using str::Offset;
    using str::Op;
    using str::SizeClass;

    Save(dir / "empty", ScriptWriter());

    // Sequential reads grow the read-ahead to its largest; then a large
    // direct read, and reads across the end.
    ScriptWriter sequential = StreamHeader(str::Flags(SizeClass::Large), 1000);
    for (int k = 0; k < 12; ++k) Do(sequential, Op::ReadMedium).U16(9000);
    Do(sequential, Op::ReadEdge).U8(5).I8(0);
    Do(sequential, Op::ReadEdge).U8(4).I8(-1);
    Do(sequential, Op::ReadEdge).U8(4).I8(1);
    Do(sequential, Op::Size);
    Save(dir / "sequential-to-the-end", sequential);

    // Seeks inside and outside what was read ahead, back and forth, past the
    // end and to positions that cannot be reached.
    ScriptWriter seeks = StreamHeader(str::Flags(SizeClass::Small), 50000);
    Do(seeks, Op::ReadSmall).U8(100);
    Seek(seeks, Op::SeekCurrent, Offset::Blocks).I8(-1);
    Do(seeks, Op::ReadSmall).U8(200);
    Seek(seeks, Op::SeekCurrent, Offset::Negative).U8(0);
    Do(seeks, Op::ReadSmall).U8(10);
    Seek(seeks, Op::SeekBeginning, Offset::BeforeEnd).U8(3);
    Do(seeks, Op::ReadSmall).U8(10);
    Seek(seeks, Op::SeekBeginning, Offset::AfterEnd).U8(3);
    Do(seeks, Op::ReadSmall).U8(10);
    Seek(seeks, Op::SeekCurrent, Offset::Largest).U8(0);
    Seek(seeks, Op::SeekBeginning, Offset::Largest).U8(0);
    Do(seeks, Op::ReadSmall).U8(10);
    Seek(seeks, Op::SeekCurrent, Offset::Smallest).U8(0);
    Seek(seeks, Op::SeekBeginning, Offset::Negative).U8(9);
    Seek(seeks, Op::SeekCurrent, Offset::BackToStart).I8(0);
    Do(seeks, Op::ReadMedium).U16(9000);
    Seek(seeks, Op::SeekCurrent, Offset::AroundEndAhead).I8(-5);
    Do(seeks, Op::ReadMedium).U16(9000);
    Save(dir / "seeks", seeks);

    // System reads that come back short or interrupted.
    ScriptWriter shortReads = StreamHeader(str::Flags(SizeClass::ReadAhead), 4000, 3000);
    Do(shortReads, Op::ShortReads).U8(0x1F);
    Do(shortReads, Op::ReadMedium).U16(30000);
    Do(shortReads, Op::ShortReads).U8(0x0F);
    Do(shortReads, Op::ReadEdge).U8(5).I8(0);
    Do(shortReads, Op::ShortReads).U8(0x63);
    Seek(shortReads, Op::SeekBeginning, Offset::Small).U16(77);
    Do(shortReads, Op::ReadEdge).U8(4).I8(0);
    Save(dir / "short-reads", shortReads);

    // Writes into what was read ahead, past the end, then reads over them.
    ScriptWriter writes = StreamHeader(str::Flags(SizeClass::Small, str::kReadWrite), 20000);
    Do(writes, Op::ReadSmall).U8(50);
    Seek(writes, Op::SeekBeginning, Offset::Small).U16(10);
    Do(writes, Op::Write).U8(4).U8('a').U8('b').U8('c').U8('d');
    Seek(writes, Op::SeekBeginning, Offset::Small).U16(0);
    Do(writes, Op::ReadSmall).U8(50);
    Seek(writes, Op::SeekBeginning, Offset::AfterEnd).U8(100);
    Do(writes, Op::Write).U8(2).U8('x').U8('y');
    Do(writes, Op::Size);
    Seek(writes, Op::SeekCurrent, Offset::Blocks).I8(-2);
    Do(writes, Op::ReadMedium).U16(10000);
    Save(dir / "writes", writes);

    // The file grows behind the stream: reads and the size stop where it ended.
    ScriptWriter grows = StreamHeader(str::Flags(SizeClass::Small), 5000);
    Do(grows, Op::ReadSmall).U8(100);
    Do(grows, Op::Grow).U8(100);
    Do(grows, Op::Size);
    Seek(grows, Op::SeekBeginning, Offset::BeforeEnd).U8(10);
    Do(grows, Op::ReadMedium).U16(10000);
    Seek(grows, Op::SeekBeginning, Offset::AfterEnd).U8(10);
    Do(grows, Op::ReadSmall).U8(100);
    Save(dir / "growing-file", grows);

    ScriptWriter tiny = StreamHeader(str::Flags(SizeClass::Tiny), 9);
    Do(tiny, Op::ReadSmall).U8(4);
    Do(tiny, Op::ReadSmall).U8(0);
    Do(tiny, Op::ReadSmall).U8(9);
    Do(tiny, Op::ReadSmall).U8(1);
    Save(dir / "tiny", tiny);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_differential_seeds DIR\n";
        return 64;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir / "locator");
    std::filesystem::create_directories(dir / "file_stream");
    WriteLocatorSeeds(dir / "locator");
    WriteStreamSeeds(dir / "file_stream");
    return 0;
}
