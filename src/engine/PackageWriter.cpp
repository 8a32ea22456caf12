// Writing packages: chunk streams compressed on one or more threads, and the package
// layout behind a stub. Apart from the reader, so that a program that only reads packages
// (the setup stubs) links neither the compressor nor the threads. The streams are zlib
// streams made by libdeflate, which writes them several times faster than zlib and a little
// smaller; every zlib reader reads them.
#include <libdeflate.h>

#include <algorithm>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Package.h"

namespace {

// Passes every write on to the setup file and keeps the CRC-32 of what went through, so the
// builder has the package's checksum without reading its output again.
class TChecksumWriter : public TStream {
public:
  explicit TChecksumWriter(TStream& inner) : FInner(inner) {}
  size_t Read(void*, size_t) override { throw EReadError("Stream read error"); }
  void Write(const void* buffer, size_t count) override {
    FInner.Write(buffer, count);
    // The same CRC-32 as the reader's (zlib's), at several times the speed.
    FCrc = libdeflate_crc32(FCrc, buffer, count);
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

// One libdeflate compressor per thread, kept for every piece that thread compresses: its
// state is several hundred KiB at the higher levels, too much to allocate per piece.
class TDeflater {
public:
  explicit TDeflater(int level) : FC(libdeflate_alloc_compressor(level)) {
    if (!FC) throw ECompressionError("error");
    FBound = 4 + libdeflate_zlib_compress_bound(FC, kChunkSize);
  }
  ~TDeflater() { libdeflate_free_compressor(FC); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  // Room one piece of up to kChunkSize bytes can need, the length prefix included.
  size_t Bound() const { return FBound; }
  // Compresses in[0..n) into out (Bound() bytes of room) as int32 length + zlib stream;
  // returns the bytes used.
  size_t Compress(const uint8_t* in, size_t n, uint8_t* out) {
    size_t c = libdeflate_zlib_compress(FC, in, n, out + 4, FBound - 4);
    if (c == 0) throw ECompressionError("error");
    PutLE32(out, static_cast<uint32_t>(c));
    return 4 + c;
  }

private:
  libdeflate_compressor* FC;
  size_t FBound;
};

// Writes pieces as chunks in the order they are added. Pieces travel in batches of up to
// kBatchPieces, read from the sources in one call per batch and file; with more than one job
// the batches are compressed on worker threads through a fixed ring of slots, so memory stays
// at a few batches per thread whatever the size of the input, and the sources are read while
// the workers compress what came before.
class TChunkPipeline {
public:
  TChunkPipeline(TStream& dest, int level, int jobs) : FDest(dest), FPos(dest.Position()) {
    if (jobs <= 0) jobs = static_cast<int>(std::thread::hardware_concurrency());
    if (jobs <= 0) jobs = 1;
    jobs = std::min(jobs, 64);
    if (level == 0) jobs = 1;  // stored chunks are a copy: threads only add hand-over cost
    FDeflaters.reserve(static_cast<size_t>(jobs));
    for (int i = 0; i < jobs; ++i) FDeflaters.push_back(std::make_unique<TDeflater>(level));
    const size_t bound = FDeflaters[0]->Bound();
    FSlots.resize(jobs == 1 ? 1 : static_cast<size_t>(jobs) * 4);
    for (auto& s : FSlots) {
      s.In.resize(kBatchPieces * kChunkSize);
      s.Out.resize(kBatchPieces * bound);
    }
    FBuffer.reserve(kWriteBlock + kBatchPieces * bound);
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
    Mark(begin ? &begin->DataStart : nullptr);
    for (int64_t pos = 0; pos < size;) {
      TSlot& s = Current();
      size_t room = (kBatchPieces - s.Pieces) * static_cast<size_t>(kChunkSize);
      size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), size - pos));
      source.ReadBuffer(s.In.data() + s.InLen, n);
      s.InLen += n;
      s.Pieces += (n + kChunkSize - 1) / kChunkSize;
      pos += static_cast<int64_t>(n);
      FBytes += static_cast<int64_t>(n);
      // Each read starts a piece of its source; the last piece is short unless the source's
      // size is a multiple of kChunkSize, and the next source starts a new one.
      if (n % kChunkSize != 0) s.PieceEnds.push_back(s.InLen);
      if (onBytes) onBytes(FBytes);
      if (s.Pieces == kBatchPieces) Dispatch();
    }
    Mark(end ? &end->DataEnd : nullptr);
  }

  // Writes everything queued; afterwards dest's position is the end of the last chunk.
  void Finish() {
    if (FOpen) Dispatch();
    while (FWritten < FQueued) WriteOldest();
    FlushBuffer();
  }

private:
  // Up to kBatchPieces pieces back to back in In; a piece ends every kChunkSize bytes and
  // where a source ends (PieceEnds). Marks are positions to set before piece Piece.
  struct TMark {
    size_t Piece;
    int64_t* Target;
  };
  struct TSlot {
    std::vector<uint8_t> In;
    size_t InLen = 0;
    size_t Pieces = 0;
    std::vector<size_t> PieceEnds;  // the short pieces' ends, ascending
    std::vector<uint8_t> Out;
    std::vector<size_t> OutEnds;  // per piece, the end of its chunk in Out
    std::vector<TMark> Marks;
    bool Done = false;
    std::exception_ptr Error;
  };

  TSlot& Current() {
    if (!FOpen) {
      if (FQueued - FWritten == FSlots.size()) WriteOldest();
      TSlot& s = FSlots[FQueued % FSlots.size()];
      s.InLen = s.Pieces = 0;
      s.PieceEnds.clear();
      s.OutEnds.clear();
      s.Marks.clear();
      s.Error = nullptr;
      FOpen = true;
    }
    return FSlots[FQueued % FSlots.size()];
  }

  void Mark(int64_t* target) {
    if (!target) return;
    TSlot& s = Current();
    s.Marks.push_back({s.Pieces, target});
  }

  void Dispatch() {
    FOpen = false;
    TSlot& s = FSlots[FQueued % FSlots.size()];
    if (FWorkers.empty()) {
      CompressSlot(*FDeflaters[0], s);
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

  static void CompressSlot(TDeflater& deflater, TSlot& s) {
    size_t from = 0, out = 0;
    auto shortEnd = s.PieceEnds.begin();
    while (from < s.InLen) {
      size_t to = from + kChunkSize;
      if (shortEnd != s.PieceEnds.end() && *shortEnd < to) to = *shortEnd++;
      if (to > s.InLen) to = s.InLen;
      out += deflater.Compress(s.In.data() + from, to - from, s.Out.data() + out);
      s.OutEnds.push_back(out);
      from = to;
    }
  }

  void WriteOldest() {
    TSlot& s = FSlots[FWritten % FSlots.size()];
    if (!FWorkers.empty()) {
      std::unique_lock<std::mutex> l(FLock);
      FDone.wait(l, [&] { return s.Done; });
    }
    ++FWritten;
    if (s.Error) std::rethrow_exception(s.Error);
    for (const TMark& m : s.Marks) *m.Target = FPos + static_cast<int64_t>(m.Piece == 0 ? 0 : s.OutEnds[m.Piece - 1]);
    const size_t n = s.OutEnds.empty() ? 0 : s.OutEnds.back();
    if (n > 0) {
      FBuffer.insert(FBuffer.end(), s.Out.data(), s.Out.data() + n);
      FPos += static_cast<int64_t>(n);
      if (FBuffer.size() >= kWriteBlock) FlushBuffer();
    }
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
        CompressSlot(deflater, s);
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

  // 16 pieces: one read of 128 KiB per batch, one hand-over per 16 chunks.
  static constexpr size_t kBatchPieces = 16;
  // The output goes to dest in blocks of 1 MiB.
  static constexpr size_t kWriteBlock = 1 << 20;
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
  bool FOpen = false;  // the slot at FQueued is being filled
  bool FStop = false;
};

}  // namespace

void CompressToChunks(TStream& source, TStream& dest, int32_t levelChoice, int jobs) {
  TChunkPipeline pipeline(dest, EncoderLevelForChoice(levelChoice), jobs);
  pipeline.AddStream(source, nullptr, nullptr, nullptr);
  pipeline.Finish();
}

void WritePackage(TStream& setupFile, TInsPackList& entries, const TPackSourceOpener& openSource,
                  const TPackageWriteOptions& options) {
  int64_t p1 = setupFile.Seek(0, 2);
  if (p1 <= 0) throw EStreamError("The setup stub is empty");
  TChecksumWriter out(setupFile);
  int32_t count = entries.Count();
  int64_t p2;
  {
    TChunkPipeline pipeline(out, EncoderLevelForChoice(options.LevelChoice), options.Jobs);
    for (int32_t i = 0; i < count; ++i) {
      TInsPackRec* rec = entries[i];
      if (options.OnProgress) options.OnProgress(i, count, rec->Name);
      std::unique_ptr<TStream> source = openSource(*rec, i);
      if (!source) throw EStreamError("No source for \"" + rec->Name + "\"");
      pipeline.AddStream(*source, rec, rec, options.OnBytes);
    }
    pipeline.Finish();
    // The index needs every entry's positions; the same compressors write it.
    p2 = out.Position();
    TMemoryStream index;
    for (TInsPackRec* rec : entries) WriteInsPackRec(index, *rec);
    pipeline.AddStream(index, nullptr, nullptr, nullptr);
    pipeline.Finish();
  }
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
