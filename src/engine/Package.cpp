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

// Room for one compressed piece: zlib's bound for 8192 bytes plus the length prefix.
const size_t kPieceOutSize = 4 + compressBound(kChunkSize) + 64;

// One deflate stream kept for many pieces. deflateReset gives each piece exactly the bytes
// of a freshly initialised stream, without the fresh stream's allocations.
class TDeflater {
public:
  explicit TDeflater(int level) {
    std::memset(&FZ, 0, sizeof(FZ));
    if (deflateInit(&FZ, level) != Z_OK) throw ECompressionError("error");
  }
  ~TDeflater() { deflateEnd(&FZ); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  // Compresses in[0..n) into out as int32 length + zlib stream; returns the bytes used.
  size_t Compress(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    if (deflateReset(&FZ) != Z_OK) throw ECompressionError("error");
    if (out.size() < kPieceOutSize) out.resize(kPieceOutSize);
    FZ.next_in = const_cast<Bytef*>(in);
    FZ.avail_in = static_cast<uInt>(n);
    FZ.next_out = out.data() + 4;
    FZ.avail_out = static_cast<uInt>(out.size() - 4);
    for (;;) {
      int rc = deflate(&FZ, Z_FINISH);
      if (rc == Z_STREAM_END) break;
      if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError("error");
      if (FZ.avail_out != 0) throw ECompressionError("error");  // no progress with room left
      // The bound makes this unreachable with zlib's own streams; grow rather than fail.
      size_t used = out.size() - 4;
      out.resize(out.size() * 2);
      FZ.next_out = out.data() + 4 + used;
      FZ.avail_out = static_cast<uInt>(out.size() - 4 - used);
    }
    size_t c = FZ.total_out;
    PutLE32(out.data(), static_cast<uint32_t>(c));
    return 4 + c;
  }

private:
  z_stream FZ;
};

// One inflate stream kept for all chunks of a run; output is bounded to one chunk.
// The compressed range is read and the expansion written in large blocks, so a file
// stream sees one call per 64 KiB rather than two per chunk.
class TInflater {
public:
  TInflater() : FIn(kBlock), FOut(kBlock + kChunkSize + 1) {
    std::memset(&FZ, 0, sizeof(FZ));
    if (inflateInit(&FZ) != Z_OK) throw EDecompressionError("error");
  }
  ~TInflater() { inflateEnd(&FZ); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  void Expand(TStream& src, TStream& dest, int64_t start, int64_t end, const AnsiString& name) {
    FSrc = &src;
    FEnd = end;
    FFilePos = start;
    FInPos = FInLen = FOutLen = 0;
    src.SetPosition(start);
    try {
      int64_t pos = start;
      while (pos < end) {
        if (end - pos < 4) Damaged(name, "chunk header runs past the end of its data", pos);
        Fill(4);
        int32_t c = static_cast<int32_t>(GetLE32(&FIn[FInPos]));
        FInPos += 4;
        if (c <= 0 || c > end - pos - 4) Damaged(name, "chunk length " + IntToStr(c) + " outside its data", pos);
        ExpandOne(c, pos, name);
        if (FOutLen > FOut.size() - (kChunkSize + 1)) Flush(dest);
        pos += 4 + static_cast<int64_t>(c);
      }
    } catch (...) {
      Flush(dest);  // what was expanded before the fault stays written
      throw;
    }
    Flush(dest);
  }

private:
  static constexpr size_t kBlock = 65536;

  // Makes at least n bytes (n <= kBlock, all inside the range) available at FInPos.
  void Fill(size_t n) {
    size_t have = FInLen - FInPos;
    if (have >= n) return;
    std::memmove(FIn.data(), FIn.data() + FInPos, have);
    FInPos = 0;
    FInLen = have;
    size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kBlock - have), FEnd - FFilePos));
    FSrc->ReadBuffer(FIn.data() + FInLen, want);
    FInLen += want;
    FFilePos += static_cast<int64_t>(want);
  }

  void Flush(TStream& dest) {
    if (FOutLen > 0) dest.Write(FOut.data(), FOutLen);
    FOutLen = 0;
  }

  // Inflates one chunk of c compressed bytes into FOut behind FOutLen.
  void ExpandOne(int32_t c, int64_t chunkPos, const AnsiString& name) {
    if (inflateReset(&FZ) != Z_OK) throw EDecompressionError("error");
    int64_t left = c;  // compressed bytes not yet handed to zlib
    const uInt outRoom = static_cast<uInt>(kChunkSize + 1);
    FZ.next_out = FOut.data() + FOutLen;
    FZ.avail_out = outRoom;
    for (;;) {
      if (FInPos == FInLen) Fill(1);
      size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(FInLen - FInPos)));
      FZ.next_in = FIn.data() + FInPos;
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
  std::vector<uint8_t> FIn, FOut;
  TStream* FSrc = nullptr;
  int64_t FEnd = 0, FFilePos = 0;
  size_t FInPos = 0, FInLen = 0, FOutLen = 0;
};

// Writes pieces as chunks in the order they are added. With more than one job the pieces
// are compressed on worker threads through a fixed ring of slots, so memory stays at a few
// pieces per thread whatever the size of the input.
class TChunkPipeline {
public:
  TChunkPipeline(TStream& dest, int level, int jobs) : FDest(dest), FPos(dest.Position()) {
    if (jobs <= 0) jobs = static_cast<int>(std::thread::hardware_concurrency());
    if (jobs <= 0) jobs = 1;
    jobs = std::min(jobs, 64);
    if (level == 0) jobs = 1;  // stored chunks are a copy: threads only add hand-over cost
    FDeflaters.reserve(static_cast<size_t>(jobs));
    for (int i = 0; i < jobs; ++i) FDeflaters.push_back(std::make_unique<TDeflater>(level));
    FSlots.resize(jobs == 1 ? 1 : static_cast<size_t>(jobs) * 4);
    FBuffer.reserve(kWriteBlock + kPieceOutSize);
    for (auto& s : FSlots) s.In.resize(kChunkSize);
    if (jobs > 1) {
      try {
        for (int i = 0; i < jobs; ++i) FWorkers.emplace_back([this, i] { Work(*FDeflaters[static_cast<size_t>(i)]); });
      } catch (...) {
        Stop();
        throw;
      }
    }
  }
  ~TChunkPipeline() { Stop(); }
  TChunkPipeline(const TChunkPipeline&) = delete;
  TChunkPipeline& operator=(const TChunkPipeline&) = delete;

  // Queues source's whole content (from 0 to its size). begin gets DataStart, end DataEnd.
  void AddStream(TStream& source, TInsPackRec* begin, TInsPackRec* end, const std::function<void(int64_t)>& onBytes) {
    source.SetPosition(0);
    int64_t size = source.Size();
    if (size <= 0) {
      Queue(nullptr, 0, begin, end);
      return;
    }
    for (int64_t pos = 0; pos < size;) {
      size_t n = static_cast<size_t>(std::min<int64_t>(kChunkSize, size - pos));
      pos += static_cast<int64_t>(n);
      Queue(&source, n, pos == static_cast<int64_t>(n) ? begin : nullptr, pos == size ? end : nullptr);
      FBytes += static_cast<int64_t>(n);
      if (onBytes) onBytes(FBytes);
    }
  }

  // Writes everything queued; afterwards dest's position is the end of the last chunk.
  void Finish() {
    while (FWritten < FQueued) WriteOldest();
    FlushBuffer();
  }

private:
  struct TSlot {
    std::vector<uint8_t> In;
    size_t InLen = 0;
    std::vector<uint8_t> Out;
    size_t OutLen = 0;
    TInsPackRec* Begin = nullptr;
    TInsPackRec* End = nullptr;
    bool Done = false;
    std::exception_ptr Error;
  };

  void Queue(TStream* source, size_t n, TInsPackRec* begin, TInsPackRec* end) {
    if (FQueued - FWritten == FSlots.size()) WriteOldest();
    TSlot& s = FSlots[FQueued % FSlots.size()];
    s.InLen = n;
    if (n > 0) source->ReadBuffer(s.In.data(), n);
    s.Begin = begin;
    s.End = end;
    s.OutLen = 0;
    s.Error = nullptr;
    if (FWorkers.empty()) {
      if (n > 0) s.OutLen = FDeflaters[0]->Compress(s.In.data(), n, s.Out);
      s.Done = true;
      ++FQueued;
      WriteOldest();
      return;
    }
    {
      std::lock_guard<std::mutex> l(FLock);
      s.Done = false;
      ++FQueued;
    }
    FWork.notify_one();
  }

  void WriteOldest() {
    TSlot& s = FSlots[FWritten % FSlots.size()];
    if (!FWorkers.empty()) {
      std::unique_lock<std::mutex> l(FLock);
      FDone.wait(l, [&] { return s.Done; });
    }
    ++FWritten;
    if (s.Error) std::rethrow_exception(s.Error);
    if (s.Begin) s.Begin->DataStart = FPos;
    if (s.OutLen > 0) {
      FBuffer.insert(FBuffer.end(), s.Out.data(), s.Out.data() + s.OutLen);
      FPos += static_cast<int64_t>(s.OutLen);
      if (FBuffer.size() >= kWriteBlock) FlushBuffer();
    }
    if (s.End) s.End->DataEnd = FPos;
  }

  void FlushBuffer() {
    if (!FBuffer.empty()) FDest.Write(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
  }

  void Work(TDeflater& deflater) {
    for (;;) {
      size_t seq;
      {
        std::unique_lock<std::mutex> l(FLock);
        FWork.wait(l, [&] { return FStop || FClaimed < FQueued; });
        if (FStop) return;
        seq = FClaimed++;
      }
      TSlot& s = FSlots[seq % FSlots.size()];
      try {
        if (s.InLen > 0) s.OutLen = deflater.Compress(s.In.data(), s.InLen, s.Out);
      } catch (...) {
        s.Error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> l(FLock);
        s.Done = true;
      }
      FDone.notify_one();
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> l(FLock);
      FStop = true;
    }
    FWork.notify_all();
    for (auto& t : FWorkers) t.join();
    FWorkers.clear();
  }

  // Chunks go to dest in blocks: one call per 64 KiB rather than one per chunk.
  static constexpr size_t kWriteBlock = 65536;
  std::vector<uint8_t> FBuffer;
  TStream& FDest;
  int64_t FPos;
  int64_t FBytes = 0;
  std::vector<std::unique_ptr<TDeflater>> FDeflaters;
  std::vector<TSlot> FSlots;
  std::vector<std::thread> FWorkers;
  std::mutex FLock;
  std::condition_variable FWork, FDone;
  size_t FQueued = 0, FClaimed = 0, FWritten = 0;
  bool FStop = false;
};

AnsiString NameOr(const AnsiString& fileName) { return fileName.empty() ? AnsiString("setup file") : fileName; }

}  // namespace

int ZlibLevelForChoice(int32_t choice) {
  switch (choice) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 9;
    default: return -1;
  }
}

void CompressToChunks(TStream& source, TStream& dest, int32_t levelChoice, int jobs) {
  TChunkPipeline pipeline(dest, ZlibLevelForChoice(levelChoice), jobs);
  pipeline.AddStream(source, nullptr, nullptr, nullptr);
  pipeline.Finish();
}

void ExpandChunks(TStream& setupFile, TStream& dest, int64_t startOffset, int64_t endOffset,
                  const AnsiString& fileName) {
  AnsiString name = NameOr(fileName);
  if (startOffset < 0 || endOffset < startOffset || endOffset > setupFile.Size())
    Damaged(name, "data range " + IntToStr(startOffset) + "-" + IntToStr(endOffset) + " outside the file",
            startOffset);
  TInflater inflater;
  inflater.Expand(setupFile, dest, startOffset, endOffset, name);
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

const char* const SChecksumMarker = "\r\ngbsetup-crc32:";

int64_t PackageEnd(TStream& setupFile) { return setupFile.Size(); }

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

uint32_t Crc32(uint32_t crc, const void* data, size_t n) {
  auto p = static_cast<const Bytef*>(data);
  while (n > 0) {
    uInt piece = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, p, piece));
    p += piece;
    n -= piece;
  }
  return crc;
}

// Passes every write on to the setup file and keeps the CRC-32 of what went through, so the
// builder has the package's checksum without reading its output again.
class TChecksumWriter : public TStream {
public:
  explicit TChecksumWriter(TStream& inner) : FInner(inner) {}
  size_t Read(void*, size_t) override { throw EReadError("Stream read error"); }
  void Write(const void* buffer, size_t count) override {
    FInner.Write(buffer, count);
    FCrc = Crc32(FCrc, buffer, count);
  }
  int64_t Seek(int64_t offset, int origin) override {
    // Only asking where it stands: a move would leave bytes outside the sum.
    if (offset != 0 || origin != 1) throw EStreamError("The package is written front to back");
    return FInner.Seek(0, 1);
  }
  int64_t Size() override { return FInner.Size(); }
  void SetSize(int64_t) override { throw EWriteError("Stream write error"); }
  uint32_t Crc() const { return FCrc; }

private:
  TStream& FInner;
  uint32_t FCrc = 0;
};
}  // namespace

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
    crc = Crc32(crc, buffer.data(), n);
    pos += static_cast<int64_t>(n);
    if (onBlock) onBlock(block, total);
  }
  return crc;
}

void WritePackage(TStream& setupFile, TInsPackList& entries, const TPackSourceOpener& openSource,
                  const TPackageWriteOptions& options) {
  int64_t p1 = setupFile.Seek(0, 2);
  if (p1 <= 0) throw EStreamError("The setup stub is empty");
  TChecksumWriter out(setupFile);
  int level = ZlibLevelForChoice(options.LevelChoice);
  int32_t count = entries.Count();
  {
    TChunkPipeline pipeline(out, level, options.Jobs);
    for (int32_t i = 0; i < count; ++i) {
      TInsPackRec* rec = entries[i];
      if (options.OnProgress) options.OnProgress(i, count, rec->Name);
      std::unique_ptr<TStream> source = openSource(*rec, i);
      if (!source) throw EStreamError("No source for \"" + rec->Name + "\"");
      pipeline.AddStream(*source, rec, rec, options.OnBytes);
    }
    pipeline.Finish();
  }
  int64_t p2 = out.Position();
  TMemoryStream index;
  for (TInsPackRec* rec : entries) WriteInsPackRec(index, *rec);
  CompressToChunks(index, out, options.LevelChoice, 1);
  WriteInt64(out, p1);
  WriteInt64(out, p2);
  int64_t t = out.Position();
  if (!options.Checksum) {
    WriteStreamString(out, options.TextBlock);
    WriteInt64(out, t);
    return;
  }
  // The digits close the sum: everything before them, the text block's length included, is in it.
  const AnsiString text = options.TextBlock + SChecksumMarker;
  WriteInt32(out, static_cast<int32_t>(text.size() + kChecksumDigits));
  out.Write(text.data(), text.size());
  char digits[kChecksumDigits + 1];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(out.Crc()));
  setupFile.Write(digits, kChecksumDigits);
  WriteInt64(setupFile, t);
}
