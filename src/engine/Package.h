#pragma once
// The package appended to a setup stub: chunked zlib streams, the index of entries and
// the trailer that finds the index from the end of the file.
#include <cstdint>
#include <memory>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "core/SysIntfs.h"

constexpr int32_t kChunkSize = 8192;

// A package whose positions, lengths or chunks do not fit the file it sits in.
// The message names the setup file and the offset: damaged package "<file>": <what> at offset <n>.
GB_EXCEPTION(EDamagedPackage, Exception)

// Compression choice (0 none, 1 fastest, 2 default, 3 best) -> zlib level: 0, 1, 9, -1; other -> -1.
int ZlibLevelForChoice(int32_t choice);

// Rewinds source and writes its chunks at dest's position. jobs > 1 compresses chunks on
// that many threads (0 = one per core) with byte-identical output.
void CompressToChunks(TStream& source, TStream& dest, int32_t levelChoice, int jobs = 1);
// Expands the chunks between startOffset and endOffset of setupFile, appending to dest.
// Raises EDamagedPackage (naming fileName) for a length outside the range, a chunk that
// expands to more than kChunkSize bytes, or zlib data that does not decode.
void ExpandChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                  const AnsiString& fileName = AnsiString());

// One serialized index entry: stream string Name, int64 DataStart, int64 DataEnd, byte Kind,
// double FileDate, int64 FileSize.
void WriteInsPackRec(TStream& s, const TInsPackRec& rec);
std::unique_ptr<TInsPackRec> ReadInsPackRec(TStream& s);

struct TPackageTrailer {
  bool HasPackage = false;  // false when the last 8 bytes read 0 or less
  int64_t T = 0;            // position of the text block
  int64_t P1 = 0;           // start of the file data area
  int64_t P2 = 0;           // start of the index
  AnsiString TextBlock;
};

// Reads the trailer and, when P1 and P2 are both greater than 0, appends one record per
// index entry to list. Every position is checked against the file; EDamagedPackage otherwise.
TPackageTrailer ReadPackage(TStream& setupFile, TInsPackList& list, const AnsiString& fileName = AnsiString());
