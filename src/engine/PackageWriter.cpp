// Writing packages: chunk streams compressed on one or more threads, and the package
// layout behind a stub. Apart from the reader, so that a program that only reads packages
// (the setup stub) links neither zlib's compressor nor the threads.
#include <zlib.h>

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
    FCrc = PackageCrc32(FCrc, buffer, count);
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

}  // namespace

void CompressToChunks(TStream& source, TStream& dest, int32_t levelChoice, int jobs) {
  TChunkPipeline pipeline(dest, ZlibLevelForChoice(levelChoice), jobs);
  pipeline.AddStream(source, nullptr, nullptr, nullptr);
  pipeline.Finish();
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
