#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/Package.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const char* text) {
  Bytes out;
  for (const char* p = text; *p;) {
    if (*p == ' ') { ++p; continue; }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

// Text-like, random and zero runs, deterministic.
Bytes Corpus(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"setup ", "安装 ", "program ", "file\r\n", "组件 ", "the ", "registry "};
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    size_t run = 1000 + rng() % 9000;
    switch (rng() % 3) {
      case 0:
        for (size_t i = 0; i < run; ++i) {
          const char* w = words[rng() % 7];
          out.insert(out.end(), w, w + std::strlen(w));
        }
        break;
      case 1:
        for (size_t i = 0; i < run; ++i) out.push_back(static_cast<uint8_t>(rng()));
        break;
      default: out.insert(out.end(), run, 0); break;
    }
  }
  out.resize(n);
  return out;
}

// The chunks of a chunk stream, split and expanded with plain zlib calls.
std::vector<Bytes> SplitChunks(const Bytes& data, size_t from, size_t to) {
  std::vector<Bytes> chunks;
  size_t pos = from;
  while (pos < to) {
    int32_t c = static_cast<int32_t>(GetLE32(&data[pos]));
    EXPECT_GT(c, 0);
    Bytes out(kChunkSize);
    uLongf outLen = out.size();
    EXPECT_EQ(uncompress(out.data(), &outLen, &data[pos + 4], static_cast<uLong>(c)), Z_OK);
    out.resize(outLen);
    chunks.push_back(out);
    pos += 4 + static_cast<size_t>(c);
  }
  EXPECT_EQ(pos, to);
  return chunks;
}

// What a fresh zlib stream per piece gives at a zlib level.
Bytes FreshChunks(const Bytes& src, int level) {
  Bytes out;
  for (size_t pos = 0; pos < src.size(); pos += kChunkSize) {
    size_t n = std::min<size_t>(kChunkSize, src.size() - pos);
    uLongf len = compressBound(n);
    Bytes c(len);
    EXPECT_EQ(compress2(c.data(), &len, &src[pos], n, level), Z_OK);
    uint8_t prefix[4];
    PutLE32(prefix, static_cast<uint32_t>(len));
    out.insert(out.end(), prefix, prefix + 4);
    out.insert(out.end(), c.begin(), c.begin() + static_cast<long>(len));
  }
  return out;
}

Bytes Compressed(const Bytes& src, int32_t choice, int jobs = 1) {
  TMemoryStream in(src), out;
  CompressToChunks(in, out, choice, jobs);
  return out.Data();
}

struct TSource {
  AnsiString Name;
  uint8_t Kind;
  Bytes Data;
};

const Bytes kStub = Hex("4D5A 9000 0300 0000 0400 0000 FFFF 0000");

// A package behind kStub, written by WritePackage.
Bytes BuildPackage(const std::vector<TSource>& sources, int32_t choice, int jobs, TInsPackList& entries,
                   const AnsiString& text = "gbsetup") {
  for (const auto& s : sources) {
    TInsPackRec* r = entries.Add();
    r->Name = s.Name;
    r->Kind = s.Kind;
    r->FileDate = s.Kind == pkUninstaller ? 0.0 : 40564.86608796296;
    r->FileSize = s.Kind == pkUninstaller ? 0 : static_cast<int64_t>(s.Data.size());
  }
  TMemoryStream setup(kStub);
  TPackageWriteOptions o;
  o.LevelChoice = choice;
  o.Jobs = jobs;
  o.TextBlock = text;
  WritePackage(
      setup, entries,
      [&](const TInsPackRec&, int32_t i) { return std::make_unique<TMemoryStream>(sources[static_cast<size_t>(i)].Data); },
      o);
  return setup.Data();
}

std::vector<TSource> SampleSources() {
  return {
      {"C:\\proj\\hello.gbp", pkSupport, Corpus(20000, 1)},
      {"C:\\gb\\Imports\\ComList.ini", pkSupport, Bytes(590, 'x')},
      {"C:\\app\\empty.txt", pkProgramFile, {}},
      {"C:\\app\\数据\\block.bin", pkProgramFile, Corpus(3 * kChunkSize, 2)},
      {"C:\\app\\one.txt", pkProgramFile, Bytes(1, 'a')},
      {"C:\\gb\\Exe\\UnIns.exe", pkUninstaller, Corpus(kChunkSize + 4096, 3)},
  };
}

// Reads the package and expands every entry; returns the entries' contents.
std::vector<Bytes> ReadAll(const Bytes& file, TInsPackList& list, TPackageTrailer* trailer = nullptr) {
  TMemoryStream s(file);
  TPackageTrailer t = ReadPackage(s, list, "C:\\out\\Setup.exe");
  if (trailer) *trailer = t;
  std::vector<Bytes> out;
  for (TInsPackRec* r : list) {
    TMemoryStream dest;
    ExpandChunks(s, dest, r->DataStart, r->DataEnd, "C:\\out\\Setup.exe");
    out.push_back(dest.Data());
  }
  return out;
}

}  // namespace

TEST(Package, LevelChoicesMapToEncoderLevelsAndHeaders) {
  // Fastest to smallest; anything else is the default choice.
  EXPECT_EQ(EncoderLevelForChoice(0), 0);
  EXPECT_EQ(EncoderLevelForChoice(1), 1);
  EXPECT_EQ(EncoderLevelForChoice(2), 6);
  EXPECT_EQ(EncoderLevelForChoice(3), 12);
  EXPECT_EQ(EncoderLevelForChoice(4), 6);
  EXPECT_EQ(EncoderLevelForChoice(-1), 6);
  // The zlib header names the level class: 78 01 fastest/stored, 78 9C default, 78 DA best;
  // its check bits make CMF * 256 + FLG a multiple of 31.
  Bytes src = Corpus(5 * kChunkSize + 100, 3);
  const uint8_t expected[5] = {0x01, 0x01, 0x9C, 0xDA, 0x9C};
  for (int choice = 0; choice < 5; ++choice) {
    Bytes c = Compressed(src, choice);
    size_t pieces = 0;
    for (size_t pos = 0; pos < c.size(); pos += 4 + GetLE32(&c[pos]), ++pieces) {
      ASSERT_LE(pos + 6, c.size());
      EXPECT_EQ(c[pos + 4], 0x78) << "choice " << choice;
      EXPECT_EQ(c[pos + 5], expected[choice]) << "choice " << choice;
      EXPECT_EQ((c[pos + 4] * 256 + c[pos + 5]) % 31, 0);
    }
    EXPECT_EQ(pieces, 6u);
  }
  // Each choice at least as small as the one before it on compressible data.
  Bytes text;
  for (int i = 0; text.size() < 20 * size_t(kChunkSize); ++i) {
    std::string line = "setup file " + std::to_string(i * 7919 % 1000) + " installs into folder " +
                       std::to_string(i % 37) + "\r\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  size_t before = Compressed(text, 0).size();
  for (int choice = 1; choice < 4; ++choice) {
    size_t now = Compressed(text, choice).size();
    EXPECT_LT(now, before) << "choice " << choice;
    before = now;
  }
}

TEST(Package, WorkedExampleEntryBytes) {
  TInsPackRec r;
  r.Name = "C:\\Program Files\\App\\Data\\empty.00";  // 34 bytes
  ASSERT_EQ(r.Name.size(), 34u);
  r.DataStart = r.DataEnd = 791221;
  r.Kind = pkProgramFile;
  r.FileDate = 40564.86608796296;
  r.FileSize = 0;
  TMemoryStream s;
  WriteInsPackRec(s, r);
  Bytes expected = Hex("22000000");
  expected.insert(expected.end(), r.Name.begin(), r.Name.end());
  Bytes tail = Hex("B5120C0000000000 B5120C0000000000 02 8C1AFEB69BCEE340 0000000000000000");
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(s.Data(), expected);
  EXPECT_EQ(s.Size(), 34 + 37);

  s.SetPosition(0);
  auto back = ReadInsPackRec(s);
  EXPECT_EQ(back->Name, r.Name);
  EXPECT_EQ(back->DataStart, 791221);
  EXPECT_EQ(back->DataEnd, 791221);
  EXPECT_EQ(back->Kind, pkProgramFile);
  EXPECT_EQ(back->FileDate, r.FileDate);
  EXPECT_EQ(back->FileSize, 0);
}

TEST(Package, ChunkBoundaries) {
  EXPECT_TRUE(Compressed({}, 2).empty());  // no chunk for an empty source
  for (size_t n : {size_t(1), size_t(kChunkSize), size_t(3 * kChunkSize), size_t(3 * kChunkSize + 1)}) {
    Bytes src = Corpus(n, 7);
    Bytes c = Compressed(src, 2);
    std::vector<Bytes> chunks = SplitChunks(c, 0, c.size());
    ASSERT_EQ(chunks.size(), (n + kChunkSize - 1) / kChunkSize) << n;
    Bytes joined;
    for (size_t i = 0; i < chunks.size(); ++i) {
      if (i + 1 < chunks.size()) {
        EXPECT_EQ(chunks[i].size(), size_t(kChunkSize));
      }
      joined.insert(joined.end(), chunks[i].begin(), chunks[i].end());
    }
    EXPECT_EQ(joined, src);
    // Compression starts at the destination's position and rewinds the source.
    TMemoryStream in(src), out(Bytes{1, 2, 3});
    in.SetPosition(static_cast<int64_t>(n));
    out.Seek(0, 2);
    CompressToChunks(in, out, 2);
    EXPECT_EQ(out.Position(), out.Size());
    EXPECT_EQ(Bytes(out.Data().begin() + 3, out.Data().end()), c);
  }
}

TEST(Package, StoredChunksAreZlibsAndEveryChoiceRoundTrips) {
  // Choice 0 writes what zlib's level 0 writes, byte for byte, at every length of a piece.
  for (size_t n : {size_t(1), size_t(2), size_t(100), size_t(kChunkSize - 1), size_t(kChunkSize),
                   size_t(kChunkSize + 1), size_t(7 * kChunkSize + 4000)}) {
    Bytes src = Corpus(n, uint32_t(n));
    EXPECT_EQ(Compressed(src, 0), FreshChunks(src, 0)) << n;
  }
  // One compressor per thread kept for all pieces: every chunk decodes with zlib on its own.
  Bytes src = Corpus(40 * kChunkSize + 123, 11);
  for (int choice = 0; choice < 5; ++choice) {
    Bytes c = Compressed(src, choice);
    Bytes joined;
    for (const Bytes& chunk : SplitChunks(c, 0, c.size())) joined.insert(joined.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(joined, src) << "choice " << choice;
    TMemoryStream in(c), back;
    ExpandChunks(in, back, 0, in.Size());
    EXPECT_EQ(back.Data(), src);
  }
}

TEST(Package, ParallelOutputEqualsSerial) {
  Bytes src = Corpus(100 * kChunkSize + 77, 5);
  for (int choice = 0; choice < 4; ++choice) {
    Bytes serial = Compressed(src, choice, 1);
    for (int jobs : {2, 3, 0}) EXPECT_EQ(Compressed(src, choice, jobs), serial) << choice << "/" << jobs;
  }
  // Whole packages too, where small and empty files meet in one window of pieces.
  std::vector<TSource> sources = SampleSources();
  for (int i = 0; i < 40; ++i)
    sources.insert(sources.end() - 1, TSource{"C:\\app\\f" + std::to_string(i), pkProgramFile, Corpus(size_t(i) * 997, i)});
  for (int choice = 0; choice < 4; ++choice) {
    TInsPackList a, b;
    EXPECT_EQ(BuildPackage(sources, choice, 1, a), BuildPackage(sources, choice, 4, b)) << choice;
  }
  // Files of whole pieces, empty files and runs of one-byte files, so that files start and end
  // on every side of the writer's batches of pieces: each entry holds exactly its own chunks.
  sources = SampleSources();
  const size_t sizes[] = {0, 8192, 1, 0, 16 * 8192, 15 * 8192 + 1, 8191, 0, 17 * 8192, 1, 1, 1, 33 * 8192 - 1, 0};
  for (int round = 0; round < 3; ++round)
    for (size_t n : sizes)
      sources.insert(sources.end() - 1,
                     TSource{"C:\\app\\w" + std::to_string(sources.size()), pkProgramFile, Corpus(n, uint32_t(n + 9))});
  for (int jobs : {1, 3}) {
    TInsPackList written, list;
    Bytes file = BuildPackage(sources, 2, jobs, written);
    std::vector<Bytes> contents = ReadAll(file, list);
    ASSERT_EQ(contents.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
      EXPECT_EQ(contents[i], sources[i].Data) << jobs << "/" << i;
      const size_t n = sources[i].Data.size();
      EXPECT_EQ(SplitChunks(file, size_t(list[int(i)]->DataStart), size_t(list[int(i)]->DataEnd)).size(),
                (n + kChunkSize - 1) / kChunkSize)
          << jobs << "/" << i;
    }
  }
}

TEST(Package, WriteReadRoundTrip) {
  std::vector<TSource> sources = SampleSources();
  TInsPackList written;
  std::vector<int32_t> progress;
  TPackageWriteOptions o;
  o.TextBlock = "gbsetup 0.1";
  o.OnProgress = [&](int32_t i, int32_t n, const AnsiString&) { progress.push_back(i * 100 + n); };
  for (const auto& s : sources) {
    TInsPackRec* r = written.Add();
    r->Name = s.Name;
    r->Kind = s.Kind;
    r->FileSize = static_cast<int64_t>(s.Data.size());
  }
  TMemoryStream setup(kStub);
  WritePackage(setup, written,
               [&](const TInsPackRec&, int32_t i) { return std::make_unique<TMemoryStream>(sources[size_t(i)].Data); }, o);
  EXPECT_EQ(progress, (std::vector<int32_t>{6, 106, 206, 306, 406, 506}));
  Bytes file = setup.Data();
  EXPECT_TRUE(std::equal(kStub.begin(), kStub.end(), file.begin()));

  TInsPackList list;
  TPackageTrailer t;
  std::vector<Bytes> contents = ReadAll(file, list, &t);
  ASSERT_TRUE(t.HasPackage);
  EXPECT_EQ(t.P1, int64_t(kStub.size()));
  // The builder's text, then the checksum: zlib's CRC-32 of every byte from P1 to the digits.
  EXPECT_EQ(t.VersionText, "gbsetup 0.1");
  ASSERT_TRUE(t.HasChecksum);
  EXPECT_EQ(int64_t(file.size()), t.T + 4 + 11 + 16 + 8 + 8);
  uLong crc = crc32(0, file.data() + t.P1, uInt(file.size() - 16 - size_t(t.P1)));
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08lX", crc);
  EXPECT_EQ(t.TextBlock, AnsiString("gbsetup 0.1\r\ngbsetup-crc32:") + digits);
  EXPECT_EQ(t.Checksum, uint32_t(crc));
  EXPECT_EQ(t.ChecksumEnd, int64_t(file.size()) - 16);
  EXPECT_EQ(ComputePackageChecksum(*std::make_unique<TMemoryStream>(file), t), uint32_t(crc));
  ASSERT_EQ(list.Count(), int(sources.size()));
  int64_t expectStart = t.P1;
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list[i]->Name, sources[size_t(i)].Name);
    EXPECT_EQ(list[i]->Kind, sources[size_t(i)].Kind);
    EXPECT_EQ(list[i]->DataStart, expectStart);
    EXPECT_EQ(list[i]->DataStart, written[i]->DataStart);
    EXPECT_EQ(list[i]->DataEnd, written[i]->DataEnd);
    EXPECT_EQ(list[i]->FileSize, written[i]->FileSize);
    EXPECT_EQ(contents[size_t(i)], sources[size_t(i)].Data) << i;
    expectStart = list[i]->DataEnd;
  }
  EXPECT_EQ(list[2]->DataStart, list[2]->DataEnd);  // the empty file has no chunk
  EXPECT_EQ(expectStart, t.P2);
  // Exactly three full chunks for 3 x 8192 bytes, no empty chunk after them.
  EXPECT_EQ(SplitChunks(file, size_t(list[3]->DataStart), size_t(list[3]->DataEnd)).size(), 3u);
  // The index is the last chunk stream before the positions.
  TMemoryStream index;
  for (TInsPackRec* r : written) WriteInsPackRec(index, *r);
  Bytes expanded;
  for (const Bytes& c : SplitChunks(file, size_t(t.P2), size_t(t.T - 16))) expanded.insert(expanded.end(), c.begin(), c.end());
  EXPECT_EQ(expanded, index.Data());
  // The reader appends to what the list already holds.
  ReadAll(file, list);
  EXPECT_EQ(list.Count(), 2 * int(sources.size()));
}

TEST(Package, IndexOfExactlyOneChunk) {
  // 64 entries of 91 + 37 bytes: the index expands to exactly 8192 bytes.
  std::vector<TSource> sources;
  for (int i = 0; i < 64; ++i) {
    char name[92];
    std::snprintf(name, sizeof(name), "C:\\%087d", i);
    sources.push_back({name, pkProgramFile, Bytes(size_t(i), uint8_t(i))});
  }
  TInsPackList entries, list;
  TPackageTrailer t;
  Bytes file = BuildPackage(sources, 2, 1, entries);
  std::vector<Bytes> contents = ReadAll(file, list, &t);
  int32_t c = int32_t(GetLE32(&file[size_t(t.P2)]));
  EXPECT_EQ(t.P2 + 4 + c, t.T - 16);
  ASSERT_EQ(list.Count(), 64);
  EXPECT_EQ(list[63]->Name, sources[63].Name);
  EXPECT_EQ(contents[63], sources[63].Data);
}

TEST(Package, FilesWithoutPackage) {
  for (Bytes tail : {Hex("0000000000000000"), Hex("FFFFFFFFFFFFFFFF"), Hex("00000000000000 80")}) {
    Bytes file = Corpus(1000, 3);
    file.insert(file.end(), tail.begin(), tail.end());
    TInsPackList list;
    TMemoryStream s(file);
    EXPECT_FALSE(ReadPackage(s, list).HasPackage);
    EXPECT_EQ(list.Count(), 0);
  }
  TInsPackList list;
  TMemoryStream tiny(Hex("0102"));
  EXPECT_FALSE(ReadPackage(tiny, list).HasPackage);
  // P1 or P2 not above 0: a package without entries.
  TMemoryStream empty;
  WriteInt64(empty, 0);
  WriteInt64(empty, 0);
  WriteStreamString(empty, "");
  WriteInt64(empty, 16);
  TPackageTrailer t = ReadPackage(empty, list);
  EXPECT_TRUE(t.HasPackage);
  EXPECT_EQ(list.Count(), 0);
}

namespace {

// A package put together by hand, so that any field can be wrong.
Bytes RawPackage(const Bytes& data, const Bytes& indexBytes, int64_t p1) {
  TMemoryStream s(kStub);
  s.Seek(0, 2);
  s.Write(data.data(), data.size());
  int64_t p2 = s.Position();
  TMemoryStream index(indexBytes);
  CompressToChunks(index, s, 2);
  WriteInt64(s, p1);
  WriteInt64(s, p2);
  int64_t t = s.Position();
  WriteStreamString(s, "x");
  WriteInt64(s, t);
  return s.Data();
}

Bytes RawPackage(const Bytes& data, const std::vector<TInsPackRec>& entries, int64_t p1) {
  TMemoryStream index;
  for (const auto& e : entries) WriteInsPackRec(index, e);
  return RawPackage(data, index.Data(), p1);
}

void Poke32(Bytes& b, size_t at, int32_t v) { PutLE32(&b[at], uint32_t(v)); }
void Poke64(Bytes& b, size_t at, int64_t v) {
  for (int i = 0; i < 8; ++i) b[at + size_t(i)] = uint8_t(uint64_t(v) >> (8 * i));
}

// True when reading and expanding raises EDamagedPackage naming the file, and the list stays empty.
::testing::AssertionResult IsDamaged(const Bytes& file) {
  TInsPackList list;
  try {
    ReadAll(file, list);
  } catch (const EDamagedPackage& e) {
    if (e.Message().find("damaged package \"C:\\out\\Setup.exe\"") != 0)
      return ::testing::AssertionFailure() << "message: " << e.Message();
    return ::testing::AssertionSuccess();
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "other error: " << e.what();
  }
  return ::testing::AssertionFailure() << "read as valid with " << list.Count() << " entries";
}

}  // namespace

TEST(Package, DamagedPackagesAreRefused) {
  TInsPackList entries;
  const Bytes good = BuildPackage(SampleSources(), 2, 1, entries);
  TInsPackList list;
  TPackageTrailer t;
  ReadAll(good, list, &t);
  const size_t f = good.size(), T = size_t(t.T);
  auto with = [&](auto change) { Bytes b = good; change(b); return b; };

  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke64(b, f - 8, int64_t(f)); })));       // T past the end
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke64(b, f - 8, 8); })));                // no room for positions
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke32(b, T, -1); })));                   // negative text length
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke32(b, T, 1 << 30); })));              // text past the end
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke64(b, T - 16, t.P2 + 1); })));        // P1 after P2
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke64(b, T - 8, int64_t(T)); })));       // P2 past the index
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke32(b, size_t(t.P2), -5); })));        // negative chunk length
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke32(b, size_t(t.P2), 0); })));         // empty chunk
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { Poke32(b, size_t(t.P2), 0x7FFFFFFF); }))); // chunk past the end
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { b[size_t(t.P2) + 10] ^= 0x55; })));      // index data garbled
  EXPECT_TRUE(IsDamaged(with([&](Bytes& b) { b[size_t(list[0]->DataStart) + 4] = 0x12; }))); // bad zlib header
  for (size_t cut = f - 1; cut > kStub.size(); --cut) {
    Bytes b(good.begin(), good.begin() + long(cut));
    TInsPackList l;
    TMemoryStream s(b);
    try {
      ReadPackage(s, l, "C:\\out\\Setup.exe");
    } catch (const EDamagedPackage&) {
    }  // anything else fails the test
  }

  // Chunk data that is not what it should be.
  auto entry = [](int64_t start, int64_t end) {
    TInsPackRec r;
    r.Name = "C:\\a";
    r.DataStart = start;
    r.DataEnd = end;
    return r;
  };
  const int64_t p1 = int64_t(kStub.size());
  auto chunk = [](const Bytes& z) {
    Bytes b(4 + z.size());
    PutLE32(b.data(), uint32_t(z.size()));
    std::copy(z.begin(), z.end(), b.begin() + 4);
    return b;
  };
  auto zlib = [](const Bytes& src) {
    uLongf len = compressBound(src.size());
    Bytes c(len);
    compress2(c.data(), &len, src.data(), src.size(), 9);
    c.resize(len);
    return c;
  };
  Bytes oversize = chunk(zlib(Bytes(kChunkSize + 1, 'z')));
  Bytes bomb = chunk(zlib(Bytes(16 << 20, 0)));  // 16 MiB of zeros in about 16 KiB
  Bytes truncated = zlib(Corpus(kChunkSize, 9));
  truncated.resize(truncated.size() / 2);
  truncated = chunk(truncated);
  Bytes garbage = chunk(Corpus(300, 4));
  Bytes fine = chunk(zlib(Bytes(100, 'f')));
  for (const Bytes* d : {&oversize, &bomb, &truncated, &garbage})
    EXPECT_TRUE(IsDamaged(RawPackage(*d, {entry(p1, p1 + int64_t(d->size()))}, p1))) << d - &oversize;
  const int64_t p2 = p1 + int64_t(fine.size());
  EXPECT_TRUE(IsDamaged(RawPackage(fine, {entry(p1, p2 + 1)}, p1)));          // entry past P2
  EXPECT_TRUE(IsDamaged(RawPackage(fine, {entry(p1 - 1, p2)}, p1)));          // entry before P1
  EXPECT_TRUE(IsDamaged(RawPackage(fine, {entry(p2, p1)}, p1)));              // end before start
  EXPECT_TRUE(IsDamaged(RawPackage(fine, {entry(p1, p2 - 2)}, p1)));          // cuts its chunk
  TInsPackRec negative = entry(p1, p2);
  negative.FileSize = -1;
  EXPECT_TRUE(IsDamaged(RawPackage(fine, {negative}, p1)));
  EXPECT_FALSE(IsDamaged(RawPackage(fine, {entry(p1, p2)}, p1)));             // the control case
  // An index entry with a negative name length, and one cut short.
  EXPECT_TRUE(IsDamaged(RawPackage(fine, Hex("FDFFFFFF"), p1)));
  TMemoryStream idx;
  WriteInsPackRec(idx, entry(p1, p2));
  Bytes shortIndex = idx.Data();
  shortIndex.pop_back();
  EXPECT_TRUE(IsDamaged(RawPackage(fine, shortIndex, p1)));
  EXPECT_THROW(
      {
        TMemoryStream s(fine);
        TMemoryStream d;
        ExpandChunks(s, d, 0, int64_t(fine.size()) + 1, "C:\\x");
      },
      EDamagedPackage);
}


TEST(Package, ExpandSkipsTrailingBytesAndKeepsWhatCameBeforeAFault) {
  auto chunk = [](const Bytes& src, size_t trailing) {
    uLongf len = compressBound(src.size());
    Bytes z(4 + len + trailing, 0xEE);
    compress2(z.data() + 4, &len, src.data(), src.size(), 9);
    std::fill(z.begin() + 4 + long(len), z.end(), 0xEE);
    z.resize(4 + len + trailing);
    PutLE32(z.data(), uint32_t(len + trailing));
    return z;
  };
  // Bytes behind the end of a zlib stream are stepped over, also beyond the read block.
  Bytes a = Corpus(5000, 1), b = Corpus(kChunkSize, 2);
  Bytes data = chunk(a, 200000);
  Bytes second = chunk(b, 3);
  data.insert(data.end(), second.begin(), second.end());
  TMemoryStream src(data), dest;
  ExpandChunks(src, dest, 0, src.Size());
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(dest.Data(), both);
  // A fault in the third chunk leaves the first two written.
  Bytes broken = data;
  Bytes bad = Hex("05000000 0102030405");
  broken.insert(broken.end(), bad.begin(), bad.end());
  TMemoryStream src2(broken), dest2;
  EXPECT_THROW(ExpandChunks(src2, dest2, 0, src2.Size()), EDamagedPackage);
  EXPECT_EQ(dest2.Data(), both);
}

TEST(Package, ASourceThatFailsMidwayStopsEveryThread) {
  // Claims more bytes than it can give, as a file cut short while being packed.
  class TShortStream : public TMemoryStream {
  public:
    using TMemoryStream::TMemoryStream;
    int64_t Size() override { return TMemoryStream::Size() * 2; }
  };
  for (int jobs : {1, 3}) {
    TShortStream src(Corpus(50 * kChunkSize, 8));
    TMemoryStream dest;
    EXPECT_THROW(CompressToChunks(src, dest, 2, jobs), EReadError) << jobs;
  }
}
