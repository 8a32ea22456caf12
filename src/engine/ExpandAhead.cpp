// Expansion ahead of the writer, on threads of its own.
#include "engine/ExpandAhead.h"

#include <algorithm>

#include "engine/Package.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {
constexpr size_t kBlockBytes = static_cast<size_t>(TExpandAhead::kSegmentChunks) * kChunkSize;
}

// One expander's side of one item: says which chunks are its own, and hands each of its
// segments to its lane as a block. Every expander reads every chunk header of the item, so
// all agree on where each segment starts and on where a damaged header ends the item.
class TExpandAhead::TSink : public TStream, public TChunkChooser {
public:
  TSink(TExpandAhead& owner, int lane, int64_t base, int64_t hint)
      : FOwner(owner), FLane(lane), FBase(base), FHint(hint) {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    FBlock.Data.insert(FBlock.Data.end(), p, p + count);
    FHint -= static_cast<int64_t>(count);
  }
  int64_t Seek(int64_t, int) override { return 0; }
  int64_t Size() override { return 0; }
  void SetSize(int64_t) override {}

  bool Take(int64_t chunk) override {
    FChunks = chunk + 1;
    const int64_t segment = chunk / kSegmentChunks;
    if (chunk > 0 && chunk % kSegmentChunks == 0 && Mine(segment - 1)) {
      FOwner.Push(FLane, std::move(FBlock));
      FBlock = TBlock();
    }
    if (!Mine(segment)) return false;
    if (chunk % kSegmentChunks == 0) FBlock.Data = FOwner.FreeBuffer(FHint);
    return true;
  }
  // The item's end, or the fault in its last chunk asked about; returns the segments it had.
  int64_t Finish(std::exception_ptr fault) {
    const int64_t segments = FChunks == 0 ? 1 : (FChunks - 1) / kSegmentChunks + 1;
    if (Mine(segments - 1)) {
      FBlock.Last = true;
      FBlock.Fault = std::move(fault);
      FOwner.Push(FLane, std::move(FBlock));
    }
    return segments;
  }

private:
  bool Mine(int64_t segment) const { return (FBase + segment) % FOwner.FLanes == FLane; }
  TExpandAhead& FOwner;
  const int FLane;
  const int64_t FBase;  // the item's first segment, counted over all items
  int64_t FHint;
  int64_t FChunks = 0;  // chunks asked about so far
  TBlock FBlock;
};

TExpandAhead::TExpandAhead(const AnsiString& setupName, std::vector<TItem> items, int expanders)
    : FSetupName(setupName), FItems(std::move(items)) {
  if (FItems.empty()) return;
  FLanes = std::clamp(expanders, 1, 2);
  try {
    for (int lane = 0; lane < FLanes; ++lane) FThreads[lane] = std::make_unique<TWorkerThread>([this, lane] { Run(lane); });
  } catch (const Exception&) {
    // Fewer threads than lanes: stop those that run, and expand on the caller's thread.
    StopThreads();
    FLanes = 0;
    FStop = false;
  }
}

TExpandAhead::~TExpandAhead() { StopThreads(); }

void TExpandAhead::StopThreads() {
  {
    TWaitLock::TGuard l(FLock);
    FStop = true;
    FLock.WakeAll();
  }
  for (auto& t : FThreads) t.reset();  // waits for each thread, which leaves at its next block
}

void TExpandAhead::Run(int lane) {
  size_t i = 0;
  int64_t base = 0;
  try {
    try {
      TFileStream setup(FSetupName, fmOpenRead | fmShareDenyNone);
      for (; i < FItems.size(); ++i) {
        TSink sink(*this, lane, base, FItems[i].SizeHint);
        std::exception_ptr fault;
        try {
          ExpandSomeChunks(setup, sink, FItems[i].Start, FItems[i].End, FSetupName, sink);
        } catch (const TStopped&) {
          throw;
        } catch (...) {
          fault = std::current_exception();
        }
        base += sink.Finish(std::move(fault));
      }
    } catch (const TStopped&) {
      throw;
    } catch (...) {
      // The setup file did not open: each item left gets that fault, one segment each.
      const std::exception_ptr fault = std::current_exception();
      for (; i < FItems.size(); ++i, ++base) {
        if (base % FLanes != lane) continue;
        TBlock b;
        b.Last = true;
        b.Fault = fault;
        Push(lane, std::move(b));
      }
    }
  } catch (const TStopped&) {
  }
}

void TExpandAhead::Push(int lane, TBlock block) {
  TWaitLock::TGuard l(FLock);
  TLane& q = FLane[lane];
  while (!FStop && q.Count == kLaneBlocks) {
    q.Full = true;
    FLock.Wait();
  }
  q.Full = false;
  if (FStop) throw TStopped();
  q.Ring[(q.Head + q.Count++) % kLaneBlocks] = std::move(block);
  // Only a thread that waits for this needs the signal: each one costs two thread switches.
  if (FTakerWaits == lane) FLock.WakeAll();
}

TExpandAhead::TBlock TExpandAhead::Pop(int lane) {
  TWaitLock::TGuard l(FLock);
  TLane& q = FLane[lane];
  while (q.Count == 0) {
    FTakerWaits = lane;
    FLock.Wait();
  }
  FTakerWaits = -1;
  TBlock b = std::move(q.Ring[q.Head]);
  q.Head = (q.Head + 1) % kLaneBlocks;
  --q.Count;
  // A full lane's expander goes on only once half of it has been taken, not at every block.
  if (q.Full && q.Count <= kLaneBlocks / 2) FLock.WakeAll();
  return b;
}

std::vector<uint8_t> TExpandAhead::FreeBuffer(int64_t hint) {
  std::vector<uint8_t> data;
  {
    TWaitLock::TGuard l(FLock);
    if (!FFree.empty()) {
      data = std::move(FFree.back());
      FFree.pop_back();
    }
  }
  data.clear();
  // The hint comes from the file: it may size a buffer, never beyond one segment.
  data.reserve(static_cast<size_t>(std::clamp<int64_t>(hint, 1, static_cast<int64_t>(kBlockBytes))));
  return data;
}

int64_t TExpandAhead::Take(TStream* dest) {
  if (FBroken) std::rethrow_exception(FBroken);
  if (FNext >= FItems.size()) throw Exception("no entry left to expand");
  const TItem& item = FItems[FNext++];
  if (FLanes == 0) {
    if (!dest) return 0;
    if (!FInlineSetup) FInlineSetup = std::make_unique<TFileStream>(FSetupName, fmOpenRead | fmShareDenyNone);
    return ExpandChunks(*FInlineSetup, *dest, item.Start, item.End, FSetupName);
  }
  int64_t written = 0;
  for (;;) {
    TBlock b = Pop(static_cast<int>(FSegment++ % FLanes));
    if (dest && !b.Data.empty()) dest->Write(b.Data.data(), b.Data.size());
    written += static_cast<int64_t>(b.Data.size());
    const bool last = b.Last;
    std::exception_ptr fault = std::move(b.Fault);
    {
      TWaitLock::TGuard l(FLock);
      if (FFree.size() < kLaneBlocks) FFree.push_back(std::move(b.Data));
    }
    if (last) {
      if (fault) {
        // The expanders part ways after a fault: nothing after it can be taken in order.
        FBroken = fault;
        std::rethrow_exception(fault);
      }
      return written;
    }
  }
}

int64_t TExpandAhead::TakeNext(TStream& dest) { return Take(&dest); }

void TExpandAhead::SkipNext() { Take(nullptr); }
