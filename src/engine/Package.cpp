// Chunk streams and the package layout.
#include "engine/Package.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "core/TextUtils.h"

namespace {

[[noreturn]] void Damaged(const AnsiString& fileName, const AnsiString& what, int64_t offset) {
  AnsiString where = what + " at offset " + IntToStr(offset);
  throw EDamagedPackage("damaged package \"" + fileName + "\": " + where, where, offset);
}

// One inflate stream kept for all chunks of a run; output is bounded to one chunk.
// The compressed range is read and the expansion written in large blocks, so a file
// stream sees one call per 64 KiB rather than two per chunk.
class TInflater {
public:
  // The buffers are not cleared: only what was read or expanded into them is ever used, and
  // an installation makes one expander per file.
  TInflater() : FIn(new uint8_t[kBlock]), FOut(new uint8_t[kOutSize]) {
    std::memset(&FZ, 0, sizeof(FZ));
    if (inflateInit(&FZ) != Z_OK) throw EDecompressionError("error");
  }
  ~TInflater() { inflateEnd(&FZ); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // take, when given, is asked before each chunk whether to expand it (else it is passed over);
  // what was expanded before is written out first.
  int64_t Expand(TStream& src, TStream& dest, int64_t start, int64_t end, const AnsiString& name,
                 TChunkChooser* take = nullptr) {
    FSrc = &src;
    FWritten = 0;
    FEnd = end;
    FFilePos = start;
    FInPos = FInLen = FOutLen = 0;
    src.SetPosition(start);
    try {
      int64_t pos = start;
      for (int64_t index = 0; pos < end; ++index) {
        bool expand = true;
        if (take) {
          Flush(dest);
          expand = take->Take(index);
        }
        if (end - pos < 4) Damaged(name, "chunk header runs past the end of its data", pos);
        Fill(4);
        int32_t c = static_cast<int32_t>(GetLE32(&FIn[FInPos]));
        FInPos += 4;
        if (c <= 0 || c > end - pos - 4) Damaged(name, "chunk length " + IntToStr(c) + " outside its data", pos);
        if (!expand) {
          Skip(c);
          pos += 4 + static_cast<int64_t>(c);
          continue;
        }
        ExpandOne(c, pos, name);
        if (FOutLen > kOutSize - (kChunkSize + 1)) Flush(dest);
        pos += 4 + static_cast<int64_t>(c);
      }
    } catch (...) {
      Flush(dest);  // what was expanded before the fault stays written
      throw;
    }
    Flush(dest);
    return FWritten;
  }

private:
  int64_t FWritten = 0;
  static constexpr size_t kBlock = 65536;
  static constexpr size_t kOutSize = kBlock + kChunkSize + 1;

  // Makes at least n bytes (n <= kBlock, all inside the range) available at FInPos.
  void Fill(size_t n) {
    size_t have = FInLen - FInPos;
    if (have >= n) return;
    std::memmove(FIn.get(), FIn.get() + FInPos, have);
    FInPos = 0;
    FInLen = have;
    size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kBlock - have), FEnd - FFilePos));
    FSrc->ReadBuffer(FIn.get() + FInLen, want);
    FInLen += want;
    FFilePos += static_cast<int64_t>(want);
  }

  void Flush(TStream& dest) {
    if (FOutLen > 0) dest.Write(FOut.get(), FOutLen);
    FWritten += static_cast<int64_t>(FOutLen);
    FOutLen = 0;
  }

  // Inflates one chunk of c compressed bytes into FOut behind FOutLen.
  void ExpandOne(int32_t c, int64_t chunkPos, const AnsiString& name) {
    if (inflateReset(&FZ) != Z_OK) throw EDecompressionError("error");
    int64_t left = c;  // compressed bytes not yet handed to zlib
    const uInt outRoom = static_cast<uInt>(kChunkSize + 1);
    FZ.next_out = FOut.get() + FOutLen;
    FZ.avail_out = outRoom;
    for (;;) {
      if (FInPos == FInLen) Fill(1);
      size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(FInLen - FInPos)));
      FZ.next_in = FIn.get() + FInPos;
      FZ.avail_in = static_cast<uInt>(n);
      bool last = static_cast<int64_t>(n) == left;
      int rc = inflate(&FZ, last ? Z_FINISH : Z_NO_FLUSH);
      size_t used = n - FZ.avail_in;
      FInPos += used;
      left -= static_cast<int64_t>(used);
      size_t produced = outRoom - FZ.avail_out;
      if (produced > static_cast<size_t>(kChunkSize))
        Damaged(name, "chunk expands to more than 8192 bytes", chunkPos);
      if (rc == Z_STREAM_END) {
        FOutLen += produced;
        Skip(left);  // bytes after the end of the zlib stream are not data
        return;
      }
      if (rc == Z_MEM_ERROR) throw EDecompressionError("error");
      if (left > 0 && (rc == Z_OK || (rc == Z_BUF_ERROR && FZ.avail_in == 0))) continue;
      if (left == 0 && (rc == Z_OK || rc == Z_BUF_ERROR))
        Damaged(name, "chunk data ends before its zlib stream", chunkPos);
      Damaged(name, "chunk data does not decode", chunkPos);
    }
  }

  void Skip(int64_t n) {
    int64_t inBuffer = std::min<int64_t>(n, static_cast<int64_t>(FInLen - FInPos));
    FInPos += static_cast<size_t>(inBuffer);
    n -= inBuffer;
    if (n > 0) {
      FSrc->Seek(n, 1);
      FFilePos += n;
    }
  }

  z_stream FZ;
  std::unique_ptr<uint8_t[]> FIn, FOut;
  TStream* FSrc = nullptr;
  int64_t FEnd = 0, FFilePos = 0;
  size_t FInPos = 0, FInLen = 0, FOutLen = 0;
};

AnsiString NameOr(const AnsiString& fileName) { return fileName.empty() ? AnsiString("setup file") : fileName; }

}  // namespace

int EncoderLevelForChoice(int32_t choice) {
  switch (choice) {
    case 0: return 0;
    case 1: return 1;
    case 3: return 12;
    default: return 6;
  }
}

namespace {
int64_t ExpandRange(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                    const AnsiString& fileName, TChunkChooser* take) {
  AnsiString name = NameOr(fileName);
  if (startOffset < 0 || endOffset < startOffset || endOffset > setupFile.Size())
    Damaged(name, "data range " + IntToStr(startOffset) + "-" + IntToStr(endOffset) + " outside the file",
            startOffset);
  TInflater inflater;
  return inflater.Expand(setupFile, dest, startOffset, endOffset, name, take);
}
}  // namespace

int64_t ExpandChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                     const AnsiString& fileName) {
  return ExpandRange(setupFile, dest, startOffset, endOffset, fileName, nullptr);
}

int64_t ExpandSomeChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                         const AnsiString& fileName, TChunkChooser& take) {
  return ExpandRange(setupFile, dest, startOffset, endOffset, fileName, &take);
}

void WriteInsPackRec(TStream& s, const TInsPackRec& rec) {
  // One buffer, one write: the index of a large package has many entries.
  TMemoryStream m;
  m.Data().reserve(rec.Name.size() + 37);
  WriteStreamString(m, rec.Name);
  WriteInt64(m, rec.DataStart);
  WriteInt64(m, rec.DataEnd);
  WriteByte(m, rec.Kind);
  WriteDouble(m, rec.FileDate);
  WriteInt64(m, rec.FileSize);
  s.Write(m.Data().data(), m.Data().size());
}

std::unique_ptr<TInsPackRec> ReadInsPackRec(TStream& s) {
  auto rec = std::make_unique<TInsPackRec>();
  rec->Name = ReadStreamString(s);
  rec->DataStart = ReadInt64(s);
  rec->DataEnd = ReadInt64(s);
  rec->Kind = ReadByte(s);
  rec->FileDate = ReadDouble(s);
  rec->FileSize = ReadInt64(s);
  return rec;
}

namespace {
// The certificate table named by the security directory of a PE image: its file offset
// and size, when the file starts with a PE header that names one.
bool CertificateTable(TStream& file, int64_t fileSize, int64_t& offset, int64_t& size) {
  uint8_t dos[64];
  if (fileSize < int64_t(sizeof dos)) return false;
  file.SetPosition(0);
  file.ReadBuffer(dos, sizeof dos);
  if (dos[0] != 'M' || dos[1] != 'Z') return false;
  const int64_t pe = GetLE32(dos + 0x3C);
  // Signature, file header and the optional header up to the end of the data directories.
  uint8_t head[24 + 112 + 16 * 8];
  if (pe < int64_t(sizeof dos) - 4 || pe > fileSize - 24 - 2) return false;
  const size_t have = static_cast<size_t>(std::min<int64_t>(int64_t(sizeof head), fileSize - pe));
  file.SetPosition(pe);
  file.ReadBuffer(head, have);
  if (std::memcmp(head, "PE\0\0", 4) != 0) return false;
  const uint16_t optSize = GetLE16(head + 20);
  const uint16_t magic = GetLE16(head + 24);
  const size_t dirsAt = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  const size_t securityAt = dirsAt + 4 * 8;  // directory 4, within the optional header
  if (dirsAt == 0 || optSize < securityAt + 8 || 24 + securityAt + 8 > have) return false;
  if (GetLE32(head + 24 + dirsAt - 4) <= 4) return false;  // NumberOfRvaAndSizes
  offset = GetLE32(head + 24 + securityAt);  // a file offset, not an address
  size = GetLE32(head + 24 + securityAt + 4);
  return offset > 0 && size > 0;
}

// True when the end marker before f points to a text block that ends right at the marker.
bool TrailerEndsAt(TStream& file, int64_t f) {
  if (f < 8 + 16 + 4) return false;
  file.SetPosition(f - 8);
  const int64_t t = ReadInt64(file);
  if (t < 16 || t > f - 12) return false;
  file.SetPosition(t);
  const int64_t len = ReadInt32(file);
  return len >= 0 && t + 4 + len + 8 == f;
}
}  // namespace

int64_t PackageEnd(TStream& setupFile) {
  const int64_t size = setupFile.Size();
  int64_t table = 0, tableSize = 0;
  if (!CertificateTable(setupFile, size, table, tableSize) || table > size || tableSize != size - table) return size;
  // Up to 7 zero bytes of padding stand between the package and the table.
  uint8_t before[7] = {};
  const int64_t pad = std::min<int64_t>(7, table);
  setupFile.SetPosition(table - pad);
  setupFile.ReadBuffer(before, static_cast<size_t>(pad));
  for (int64_t n = 0; n <= pad; ++n) {
    if (n > 0 && before[pad - n] != 0) break;
    if (TrailerEndsAt(setupFile, table - n)) return table - n;
  }
  return table;
}

const char* const SChecksumMarker = "\r\ngbsetup-crc32:";

namespace {
bool ParseHexDigits(const char* p, size_t n, uint32_t& value) {
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    uint32_t d;
    if (c >= '0' && c <= '9') d = uint32_t(c - '0');
    else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
    else return false;
    value = value << 4 | d;
  }
  return true;
}
}  // namespace

uint32_t PackageCrc32(uint32_t crc, const void* data, size_t n) {
  auto p = static_cast<const Bytef*>(data);
  while (n > 0) {
    uInt piece = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, p, piece));
    p += piece;
    n -= piece;
  }
  return crc;
}

TPackageTrailer ReadPackageTrailer(TStream& setupFile, const AnsiString& fileName) {
  AnsiString name = NameOr(fileName);
  TPackageTrailer r;
  int64_t f = PackageEnd(setupFile);
  if (f < 8) return r;
  setupFile.SetPosition(f - 8);
  r.T = ReadInt64(setupFile);
  if (r.T <= 0) return r;
  r.HasPackage = true;
  // T - 16 .. T holds the positions, T .. F - 8 the text block.
  if (r.T < 16 || r.T > f - 12) Damaged(name, "text block position " + IntToStr(r.T) + " outside the file", f - 8);
  setupFile.SetPosition(r.T);
  int32_t len = ReadInt32(setupFile);
  // The text block fills the space up to the end marker exactly.
  if (len < 0 || len != f - 8 - r.T - 4)
    Damaged(name, "text block length " + IntToStr(len) + " does not reach the end marker", r.T);
  r.TextBlock.resize(static_cast<size_t>(len));
  setupFile.ReadBuffer(r.TextBlock.data(), r.TextBlock.size());
  r.VersionText = r.TextBlock;

  int64_t indexEnd = r.T - 16;
  setupFile.SetPosition(indexEnd);
  r.P1 = ReadInt64(setupFile);
  r.P2 = ReadInt64(setupFile);
  if (r.P1 <= 0 || r.P2 <= 0) return r;
  if (r.P1 > r.P2 || r.P2 > indexEnd)
    Damaged(name, "data area " + IntToStr(r.P1) + "-" + IntToStr(r.P2) + " outside the file", indexEnd);

  const size_t markerLen = std::strlen(SChecksumMarker);
  const size_t tail = markerLen + kChecksumDigits;
  if (r.TextBlock.size() >= tail && r.TextBlock.compare(r.TextBlock.size() - tail, markerLen, SChecksumMarker) == 0 &&
      ParseHexDigits(r.TextBlock.data() + r.TextBlock.size() - kChecksumDigits, kChecksumDigits, r.Checksum)) {
    r.HasChecksum = true;
    r.VersionText = r.TextBlock.substr(0, r.TextBlock.size() - tail);
    r.ChecksumEnd = f - 8 - static_cast<int64_t>(kChecksumDigits);
  }
  return r;
}

void ReadPackageIndex(TStream& setupFile, const TPackageTrailer& r, TInsPackList& list, const AnsiString& fileName) {
  if (!r.HasPackage || r.P1 <= 0 || r.P2 <= 0) return;
  AnsiString name = NameOr(fileName);
  TMemoryStream index;
  ExpandChunks(setupFile, index, r.P2, r.T - 16, name);
  index.SetPosition(0);
  std::vector<std::unique_ptr<TInsPackRec>> entries;
  int64_t at = 0;
  while (at < index.Size()) {
    std::unique_ptr<TInsPackRec> rec;
    try {
      rec = ReadInsPackRec(index);
    } catch (const EReadError&) {
      Damaged(name, "index entry " + IntToStr(entries.size() + 1) + " runs past the end of the index", r.P2);
    }
    if (rec->DataStart < r.P1 || rec->DataEnd < rec->DataStart || rec->DataEnd > r.P2)
      Damaged(name, "index entry " + IntToStr(entries.size() + 1) + " data " + IntToStr(rec->DataStart) + "-" +
                        IntToStr(rec->DataEnd) + " outside the data area",
              rec->DataStart);
    if (rec->FileSize < 0)
      Damaged(name, "index entry " + IntToStr(entries.size() + 1) + " has a negative size", r.P2);
    entries.push_back(std::move(rec));
    at = index.Position();
  }
  // Only a wholly valid index reaches the caller's list.
  for (auto& rec : entries) list.Add(std::move(rec));
}

TPackageTrailer ReadPackage(TStream& setupFile, TInsPackList& list, const AnsiString& fileName) {
  TPackageTrailer r = ReadPackageTrailer(setupFile, fileName);
  ReadPackageIndex(setupFile, r, list, fileName);
  return r;
}

uint32_t ComputePackageChecksum(TStream& setupFile, const TPackageTrailer& trailer,
                                const std::function<void(int64_t done, int64_t total)>& onBlock) {
  const int64_t from = trailer.P1, to = trailer.ChecksumEnd;
  const int64_t total = to > from ? (to - from + kChecksumBlock - 1) / kChecksumBlock : 0;
  if (onBlock) onBlock(0, total);
  std::vector<uint8_t> buffer(static_cast<size_t>(kChecksumBlock));
  uint32_t crc = 0;
  setupFile.SetPosition(from);
  int64_t pos = from;
  for (int64_t block = 1; block <= total; ++block) {
    size_t n = static_cast<size_t>(std::min<int64_t>(kChecksumBlock, to - pos));
    setupFile.ReadBuffer(buffer.data(), n);
    crc = PackageCrc32(crc, buffer.data(), n);
    pos += static_cast<int64_t>(n);
    if (onBlock) onBlock(block, total);
  }
  return crc;
}
