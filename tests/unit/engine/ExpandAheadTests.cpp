#include <gtest/gtest.h>

#include <random>

#include "EngineFixture.h"
#include "core/TextUtils.h"
#include "engine/ExpandAhead.h"
#include "engine/Package.h"
#include "system/FileStream.h"

namespace {
std::string Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Text(const TMemoryStream& m) { return std::string(m.Data().begin(), m.Data().end()); }

// The file offset of chunk k's length field in an entry's range.
int64_t ChunkAt(const AnsiString& setup, const TInsPackRec& e, int k) {
  TFileStream f(setup, fmOpenRead | fmShareDenyNone);
  int64_t pos = e.DataStart;
  for (int i = 0; i < k; ++i) {
    f.SetPosition(pos);
    pos += 4 + ReadInt32(f);
  }
  return pos;
}
}  // namespace

class ExpandAheadTest : public EngineTest {
protected:
  // Entries of every shape a segment can take: empty, one byte, a chunk less one, exactly one
  // segment, one byte more, and several segments with an odd tail.
  void MakeVaried() {
    const size_t seg = static_cast<size_t>(TExpandAhead::kSegmentChunks) * kChunkSize;
    const size_t sizes[] = {0, 1, kChunkSize - 1, seg, seg + 1, 5 * seg + 777, 3, 70000, 0, 2 * seg};
    std::vector<TEntrySpec> specs;
    for (size_t i = 0; i < std::size(sizes); ++i) {
      // Half noise, half text: stored and packed chunks both.
      std::string d = i % 2 ? Noise(sizes[i], static_cast<unsigned>(i)) : std::string(sizes[i], 'a' + char(i));
      specs.push_back({Format("{app}\\f%d.dat", static_cast<int>(i)), pkGroupFile, d});
    }
    for (const TEntrySpec& s : specs) Expected.push_back(s.Data);
    Setup = Work + "varied.exe";
    MakeSetup(Setup, specs);
    TFileStream f(Setup, fmOpenRead | fmShareDenyNone);
    ReadPackage(f, List, Setup);
  }
  std::vector<TExpandAhead::TItem> Items() const {
    std::vector<TExpandAhead::TItem> items;
    for (const TInsPackRec* e : List) items.push_back({e->DataStart, e->DataEnd, e->FileSize});
    return items;
  }
  AnsiString Setup;
  TInsPackList List;
  std::vector<std::string> Expected;
};

TEST_F(ExpandAheadTest, EveryEntryArrivesWholeAndInOrderWithOneOrTwoExpanders) {
  MakeVaried();
  for (int expanders : {1, 2}) {
    SCOPED_TRACE(expanders);
    TExpandAhead ahead(Setup, Items(), expanders);
    for (size_t i = 0; i < Expected.size(); ++i) {
      if (i == 4) {  // a file passed over keeps the ones after it in step
        ahead.SkipNext();
        continue;
      }
      TMemoryStream out;
      EXPECT_EQ(ahead.TakeNext(out), static_cast<int64_t>(Expected[i].size())) << i;
      EXPECT_TRUE(Text(out) == Expected[i]) << "entry " << i << ": " << out.Data().size() << " bytes";
    }
    TMemoryStream none;
    EXPECT_THROW(ahead.TakeNext(none), Exception);  // nothing left
  }
  // Left with entries not taken, it stops its threads and ends.
  { TExpandAhead ahead(Setup, Items(), 2); }
  {
    TExpandAhead ahead(Setup, Items(), 2);
    TMemoryStream out;
    ahead.TakeNext(out);
  }
}

TEST_F(ExpandAheadTest, DamageWritesWhatCameBeforeItAndRaisesAsTheSingleExpanderDoes) {
  MakeVaried();
  const std::string original = ReadAll(Setup);
  const TInsPackRec& big = *List[5];  // five segments and a tail, after 11 segments of others
  // A spoilt byte in a chunk's data, in a segment of each expander, and a spoilt length field.
  struct TCase {
    int Chunk;
    bool Header;
  };
  // Entry 5 starts at segment 6: its segments 2 and 4 are the first expander's, 3 the second's.
  for (TCase c : {TCase{4 * 32 + 3, false}, TCase{3 * 32 + 10, false}, TCase{3 * 32, true}, TCase{2 * 32 + 5, true},
                  TCase{0, false}}) {
    SCOPED_TRACE(Format("chunk %d%s", c.Chunk, c.Header ? " header" : ""));
    std::string bytes = original;
    const int64_t at = ChunkAt(Setup, big, c.Chunk);
    if (c.Header)
      bytes[static_cast<size_t>(at + 3)] = '\x7f';  // a length far past the entry
    else
      bytes[static_cast<size_t>(at + 4 + 100)] ^= 0x55;
    const AnsiString spoilt = Work + "spoilt.exe";
    WriteAll(spoilt, bytes);

    TMemoryStream plain;
    AnsiString plainFault;
    {
      TFileStream f(spoilt, fmOpenRead | fmShareDenyNone);
      try {
        ExpandChunks(f, plain, big.DataStart, big.DataEnd, spoilt);
      } catch (const EDamagedPackage& e) {
        plainFault = e.Message();
      }
    }
    ASSERT_FALSE(plainFault.empty());
    EXPECT_EQ(plain.Data().size(), static_cast<size_t>(c.Chunk) * kChunkSize);

    TExpandAhead ahead(spoilt, Items(), 2);
    for (int i = 0; i < 5; ++i) {
      TMemoryStream out;
      ahead.TakeNext(out);
      EXPECT_TRUE(Text(out) == Expected[static_cast<size_t>(i)]) << i;
    }
    TMemoryStream out;
    try {
      ahead.TakeNext(out);
      ADD_FAILURE() << "no fault raised";
    } catch (const EDamagedPackage& e) {
      EXPECT_EQ(e.Message(), plainFault);
    }
    EXPECT_TRUE(out.Data() == plain.Data()) << out.Data().size() << " bytes against " << plain.Data().size();
    // Nothing after a fault comes out of order: every later call raises it again.
    TMemoryStream after;
    EXPECT_THROW(ahead.TakeNext(after), EDamagedPackage);
    EXPECT_THROW(ahead.SkipNext(), EDamagedPackage);
    EXPECT_TRUE(after.Data().empty());
  }
}

TEST_F(ExpandAheadTest, ASetupFileThatDoesNotOpenFailsEachEntry) {
  MakeVaried();
  TExpandAhead ahead(Work + "missing.exe", Items(), 2);
  TMemoryStream out;
  EXPECT_THROW(ahead.TakeNext(out), Exception);
  EXPECT_THROW(ahead.TakeNext(out), Exception);
  EXPECT_TRUE(out.Data().empty());
}
