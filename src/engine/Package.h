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
// It is a decompression error, so callers that expect the zlib failure still catch it.
class EDamagedPackage : public EDecompressionError {
public:
  using EDecompressionError::EDecompressionError;
  EDamagedPackage(AnsiString message, AnsiString what, int64_t offset)
      : EDecompressionError(std::move(message)), FWhat(std::move(what)), FOffset(offset) {}
  // The fault without the file's name, and where it was found (-1: not known).
  const AnsiString& What() const { return FWhat.empty() ? Message() : FWhat; }
  int64_t Offset() const { return FOffset; }

private:
  AnsiString FWhat;
  int64_t FOffset = -1;
};

// Compression choice (0 none, 1 fastest, 2 default, 3 best) -> libdeflate level: 0 (stored),
// 1, 6, 12, from a table measured on 8 KiB pieces (bench/encoders.cpp); any other value
// takes the default's. Each stream's header says its level class (FLEVEL 0, 0, 2, 3).
int EncoderLevelForChoice(int32_t choice);

// Rewinds source and writes its chunks at dest's position. jobs > 1 compresses chunks on
// that many threads (0 = one per core) with byte-identical output.
void CompressToChunks(TStream& source, TStream& dest, int32_t levelChoice, int jobs = 1);
// Expands the chunks between startOffset and endOffset of setupFile, appending to dest;
// returns the bytes written.
// Raises EDamagedPackage (naming fileName) for a length outside the range, a chunk that
// expands to more than kChunkSize bytes, or zlib data that does not decode.
int64_t ExpandChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                     const AnsiString& fileName = AnsiString());
// The same for one of several expanders that share the range: take is asked before each
// chunk (numbered from 0) whether this one expands it; the others are passed over, their
// lengths still checked. What was expanded is written to dest before each question, so
// the output of chunks taken apart never meets in one write.
class TChunkChooser {
public:
  virtual bool Take(int64_t chunk) = 0;

protected:
  ~TChunkChooser() = default;
};
int64_t ExpandSomeChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                         const AnsiString& fileName, TChunkChooser& take);

// One serialized index entry: stream string Name, int64 DataStart, int64 DataEnd, byte Kind,
// double FileDate, int64 FileSize (N + 37 bytes). A short entry raises EReadError.
void WriteInsPackRec(TStream& s, const TInsPackRec& rec);
std::unique_ptr<TInsPackRec> ReadInsPackRec(TStream& s);

// Where the package ends (F): the end marker is the 8 bytes before it. The one place that
// decides it; every reader of the trailer asks here.
// A signed setup carries a certificate table behind its package, named by the security
// directory of its PE header: when that table ends the file, F is where the table starts,
// less the zero bytes a signer puts before it to reach an 8-byte boundary. Of those places
// the one whose trailer describes itself (F = T + 4 + L + 8, L the text block's length) is
// taken, else the table's start. Without such a table F is the file size.
int64_t PackageEnd(TStream& setupFile);

// The package checksum, at the end of the text block: the builder's own text, then
// SChecksumMarker and eight upper-case hexadecimal digits. The digits are the CRC-32 (zlib)
// of every byte from P1 up to them: file data, index, positions, the text block's length
// and text. A text block without exactly this ending carries no checksum and is not checked.
extern const char* const SChecksumMarker;  // "\r\ngbsetup-crc32:"
constexpr size_t kChecksumDigits = 8;
// zlib's CRC-32 over any length (zlib takes at most 4 GiB a call).
uint32_t PackageCrc32(uint32_t crc, const void* data, size_t n);

struct TPackageTrailer {
  bool HasPackage = false;  // false when the last 8 bytes read 0 or less
  int64_t T = 0;            // position of the text block
  int64_t P1 = 0;           // start of the file data area
  int64_t P2 = 0;           // start of the index
  AnsiString TextBlock;     // the whole text block
  AnsiString VersionText;   // the text block without the checksum
  bool HasChecksum = false;
  uint32_t Checksum = 0;     // as stored
  int64_t ChecksumEnd = 0;   // file offset of the stored digits: the checksum covers [P1, ChecksumEnd)
};

// Reads the end marker, the text block and the positions; the index is not read. Every
// position is checked against the file; EDamagedPackage otherwise.
TPackageTrailer ReadPackageTrailer(TStream& setupFile, const AnsiString& fileName = AnsiString());
// Reads the index of a trailer that has P1 and P2 greater than 0, appending one record per
// entry to list; a damaged index raises EDamagedPackage and leaves list as it was.
void ReadPackageIndex(TStream& setupFile, const TPackageTrailer& trailer, TInsPackList& list,
                      const AnsiString& fileName = AnsiString());
// Both: the trailer and, when P1 and P2 are both greater than 0, the index.
TPackageTrailer ReadPackage(TStream& setupFile, TInsPackList& list, const AnsiString& fileName = AnsiString());

// The CRC-32 of [P1, ChecksumEnd), read in blocks of kChecksumBlock bytes; onBlock (may be
// unset) hears (blocks done, blocks in all) before the first block and after each one.
constexpr int64_t kChecksumBlock = 1 << 20;
uint32_t ComputePackageChecksum(TStream& setupFile, const TPackageTrailer& trailer,
                                const std::function<void(int64_t done, int64_t total)>& onBlock = {});

// Opens the source of one entry (index is 0-based). The stream is read from 0 to its size
// and released before the next entry is opened.
using TPackSourceOpener = std::function<std::unique_ptr<TStream>(const TInsPackRec& rec, int32_t index)>;

struct TPackageWriteOptions {
  int32_t LevelChoice = 2;  // CompressionLevel of TBuildOptions
  int Jobs = 1;             // compression threads; 0 = one per core
  AnsiString TextBlock;      // the builder's text; the checksum is added behind it
  bool Checksum = true;
  TCompileProgressEvent OnProgress;                 // (Index, Count, Name) before an entry is read
  std::function<void(int64_t bytes)> OnBytes;       // source bytes taken so far, after each read (at most 128 KiB)
};

// Appends a package to setupFile (a copy of the stub, opened for reading and writing):
// every entry's chunks in list order, setting its DataStart and DataEnd, then the index,
// P1 and P2, the text block (TextBlock and the checksum, summed while the bytes go out) and T. The stub must not be empty (P1 = 0 reads back as a
// package without entries), else EStreamError.
void WritePackage(TStream& setupFile, TInsPackList& entries, const TPackSourceOpener& openSource,
                  const TPackageWriteOptions& options);
