#pragma once
// Expansion of package entries ahead of the thread that writes them, on one or two threads
// of their own, in an order known beforehand: inflating overlaps the writes and the file
// system calls. Each entry is cut into segments of kSegmentChunks chunks, handed out to the
// expanders in turn, so that a large file is inflated by both and small files alternate
// between them. What waits for the writer is bounded by a fixed number of blocks, whatever
// the sizes of the entries.
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "core/Stream.h"
#include "core/Types.h"
#include "system/SysKernel.h"

class TExpandAhead {
public:
  struct TItem {
    int64_t Start = 0, End = 0;  // the entry's chunk range in the setup file
    int64_t SizeHint = 0;        // the size its index entry gives (only to size a buffer)
  };
  // Starts expanders threads (1 or 2), each with the setup file opened again, on the items in
  // their order. Where no thread can be made, each item is expanded on the caller's thread
  // when it is taken.
  TExpandAhead(const AnsiString& setupName, std::vector<TItem> items, int expanders = 2);
  ~TExpandAhead();
  TExpandAhead(const TExpandAhead&) = delete;
  TExpandAhead& operator=(const TExpandAhead&) = delete;

  // Writes the next item's bytes to dest and returns their count, as ExpandChunks does: on a
  // fault in the package, what was expanded before it is written and the fault is raised,
  // and raised again by every later call. After an exception from dest itself the object is
  // only fit to be destroyed.
  int64_t TakeNext(TStream& dest);
  // Passes over the next item (a file the run does not write after all).
  void SkipNext();

  static constexpr int64_t kSegmentChunks = 32;  // a segment expands to at most 256 KiB
  static constexpr size_t kLaneBlocks = 12;      // waiting at most: 2 x 12 segments, 6 MiB

private:
  struct TBlock {
    std::vector<uint8_t> Data;  // one segment's output
    bool Last = false;          // the item's final segment
    std::exception_ptr Fault;   // with Last: what its expansion raised
  };
  // The blocks of one expander, in its order.
  struct TLane {
    TBlock Ring[kLaneBlocks];
    size_t Head = 0, Count = 0;
    bool Full = false;  // its expander waits for room
  };
  class TSink;
  struct TStopped {};

  void Run(int lane);
  void StopThreads();  // tells the threads to stop and waits for them
  void Push(int lane, TBlock block);  // waits for room; throws TStopped once stopping
  TBlock Pop(int lane);
  std::vector<uint8_t> FreeBuffer(int64_t hint);
  int64_t Take(TStream* dest);

  const AnsiString FSetupName;
  const std::vector<TItem> FItems;
  int FLanes = 0;      // expander threads running; 0: expansion on the caller's thread
  size_t FNext = 0;    // the item the writer takes next
  int64_t FSegment = 0;  // the writer's next segment, counted over all items
  std::exception_ptr FBroken;
  TWaitLock FLock;
  TLane FLane[2];
  std::vector<std::vector<uint8_t>> FFree;
  bool FStop = false;
  int FTakerWaits = -1;  // the lane the writer waits on, or -1
  std::unique_ptr<TWorkerThread> FThreads[2];
  std::unique_ptr<TStream> FInlineSetup;  // without a thread: the setup file, opened on first use
};
