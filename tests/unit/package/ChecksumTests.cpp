#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/Package.h"
#include "engine/PackageCheck.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) { PutLE16(&b[at], v); }
void Put32(Bytes& b, size_t at, uint32_t v) { PutLE32(&b[at], v); }

// A minimal PE image: headers up to 0x200, two sections of raw data ending at 0x500.
Bytes PeStub(uint32_t symbols = 0, uint32_t symbolCount = 0) {
  Bytes b(0x500, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  Put16(b, 0x84, 0x14C);
  Put16(b, 0x86, 2);
  Put32(b, 0x8C, symbols);
  Put32(b, 0x90, symbolCount);
  Put16(b, 0x94, 0xE0);
  Put16(b, 0x98, 0x10B);
  Put32(b, 0x98 + 60, 0x200);
  const size_t sec = 0x98 + 0xE0;
  Put32(b, sec + 16, 0x200);
  Put32(b, sec + 20, 0x200);
  Put32(b, sec + 40 + 16, 0x100);
  Put32(b, sec + 40 + 20, 0x400);
  return b;
}

Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = (i / 700) % 2 ? uint8_t(rng()) : uint8_t("setup "[i % 6]);
  return out;
}

struct TBuilt {
  Bytes File;
  TPackageTrailer Trailer;
  std::vector<std::pair<int64_t, int64_t>> Data;  // each entry's DataStart, DataEnd
  std::vector<AnsiString> Names;
};

TBuilt Build(const AnsiString& text, bool checksum, const Bytes& stub = PeStub()) {
  const std::vector<std::pair<AnsiString, Bytes>> sources = {
      {"C:\\proj\\p.gbp", Noise(5000, 1)},        {"C:\\gb\\Imports\\ComList.ini", Bytes(300, 'c')},
      {"C:\\app\\empty.txt", {}},                 {"C:\\app\\big.bin", Noise(3 * kChunkSize + 10, 2)},
      {"C:\\app\\数据\\small.txt", Noise(40, 3)}, {"C:\\gb\\Exe\\UnIns.exe", Noise(kChunkSize + 1, 4)},
  };
  TInsPackList entries;
  for (size_t i = 0; i < sources.size(); ++i) {
    TInsPackRec* r = entries.Add();
    r->Name = sources[i].first;
    r->Kind = i < 2 ? pkSupport : i + 1 == sources.size() ? pkUninstaller : pkProgramFile;
    r->FileSize = r->Kind == pkUninstaller ? 0 : int64_t(sources[i].second.size());
  }
  TMemoryStream setup(stub);
  TPackageWriteOptions o;
  o.TextBlock = text;
  o.Checksum = checksum;
  WritePackage(
      setup, entries, [&](const TInsPackRec&, int32_t i) { return std::make_unique<TMemoryStream>(sources[size_t(i)].second); },
      o);
  TBuilt b;
  b.File = setup.Data();
  TMemoryStream s(b.File);
  b.Trailer = ReadPackageTrailer(s);
  for (TInsPackRec* r : entries) {
    b.Data.push_back({r->DataStart, r->DataEnd});
    b.Names.push_back(r->Name);
  }
  return b;
}

// The index as zlib reads it from [from, to); empty when a chunk does not decode.
Bytes IndexBytes(const Bytes& file, size_t from, size_t to) {
  Bytes out;
  for (size_t pos = from; pos + 4 <= to;) {
    const uint32_t c = GetLE32(&file[pos]);
    if (c == 0 || c > to - pos - 4) return {};
    Bytes piece(kChunkSize);
    uLongf n = piece.size();
    if (uncompress(piece.data(), &n, &file[pos + 4], c) != Z_OK) return {};
    out.insert(out.end(), piece.begin(), piece.begin() + long(n));
    pos += 4 + c;
  }
  return out;
}

TPackageVerdict Verify(const Bytes& file) {
  TMemoryStream s(file);
  return VerifyPackage(s, "C:\\dl\\Setup.exe");
}

}  // namespace

TEST(Checksum, OnlyItsExactFormIsRecognised) {
  TBuilt good = Build("gbsetup 9", true);
  ASSERT_TRUE(good.Trailer.HasChecksum);
  EXPECT_EQ(good.Trailer.VersionText, "gbsetup 9");
  EXPECT_EQ(Verify(good.File).State, TPackageState::Ok);
  // The same bytes twice: nothing in the sum depends on time or chance.
  EXPECT_EQ(Build("gbsetup 9", true).File, good.File);

  // Text blocks of older or other builders are read as they are and not checked.
  for (const char* text : {"gbsetup 0.1.0", "", "gbsetup 9\r\ngbsetup-crc32:abcdef12", "gbsetup 9\r\ngbsetup-crc32:ABCDEF1",
                           "gbsetup 9\ngbsetup-crc32:ABCDEF12", "gbsetup-crc32:ABCDEF12", "gbsetup 9\r\ngbsetup-crc32:ABCDEF12 "}) {
    TBuilt b = Build(text, false);
    EXPECT_FALSE(b.Trailer.HasChecksum) << text;
    EXPECT_EQ(b.Trailer.TextBlock, text);
    TPackageVerdict v = Verify(b.File);
    EXPECT_EQ(v.State, TPackageState::NoChecksum) << text << ": " << v.Detail;
  }
  // The form without a matching sum is a damaged package, not an unchecked one.
  TBuilt forged = Build("gbsetup 9\r\ngbsetup-crc32:00000000", false);
  ASSERT_TRUE(forged.Trailer.HasChecksum);
  EXPECT_EQ(forged.Trailer.Checksum, 0u);
  EXPECT_EQ(Verify(forged.File).State, TPackageState::ChecksumMismatch);
}

TEST(Checksum, NoSingleByteChangeInThePackageVerifiesAsOk) {
  const TBuilt good = Build("gbsetup 9", true);
  const TPackageTrailer& t = good.Trailer;
  const size_t p1 = size_t(t.P1), p2 = size_t(t.P2), T = size_t(t.T), f = good.File.size();
  const size_t marker = f - 8 - kChecksumDigits - std::strlen(SChecksumMarker);

  // Every byte of the chunk headers, the index, the positions, the text block and the end
  // marker; the chunk data sampled.
  std::set<size_t> at;
  for (size_t i = p2; i < f; ++i) at.insert(i);
  for (size_t i = p1; i < p2; i += 37) at.insert(i);
  for (const auto& d : good.Data) {
    for (int64_t pos = d.first; pos < d.second;) {
      for (size_t k = 0; k < 6; ++k) at.insert(size_t(pos) + k);  // length and zlib header
      int32_t c = int32_t(GetLE32(&good.File[size_t(pos)]));
      at.insert(size_t(pos) + 4 + size_t(c) - 1);                 // last Adler-32 byte
      pos += 4 + c;
    }
  }
  int changes = 0;
  for (size_t i : at) {
    for (uint8_t delta : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
      Bytes b = good.File;
      b[i] ^= delta;
      TPackageVerdict v = Verify(b);
      ++changes;
      ASSERT_NE(v.State, TPackageState::Ok) << "offset " << i;
      ASSERT_NE(v.State, TPackageState::NoPackage) << "offset " << i;
      if (v.State == TPackageState::NoChecksum) {
        EXPECT_GE(i, marker) << "offset " << i << " hid the checksum";
      }
      if (i >= p1 && i < p2) {
        // The first bad chunk is named by the entry whose data holds the change.
        size_t k = 0;
        while (!(int64_t(i) >= good.Data[k].first && int64_t(i) < good.Data[k].second)) ++k;
        const std::string entry = "entry " + std::to_string(k + 1) + " \"" + good.Names[k] + "\"";
        EXPECT_EQ(v.State, TPackageState::ChecksumMismatch) << "offset " << i;
        EXPECT_NE(v.Detail.find(entry), std::string::npos) << "offset " << i << ": " << v.Detail;
      } else if (i >= p2 && i < T - 16 && IndexBytes(b, p2, T - 16) != IndexBytes(good.File, p2, T - 16)) {
        // (A change in the unused bits after a stream's last code decodes as before: only
        // the checksum sees it.)
        EXPECT_NE(v.Detail.find("index"), std::string::npos) << "offset " << i << ": " << v.Detail;
      }
    }
  }
  EXPECT_GT(changes, 1000);
}

TEST(Checksum, CutShortIsTruncatedAndABareStubHasNoPackage) {
  const TBuilt good = Build("gbsetup 9", true);
  const Bytes stub = PeStub();
  EXPECT_EQ(Verify(stub).State, TPackageState::NoPackage);
  std::set<TPackageState> seen;
  for (size_t cut = stub.size() + 1; cut < good.File.size(); cut += 13) {
    Bytes b(good.File.begin(), good.File.begin() + long(cut));
    TPackageVerdict v = Verify(b);
    ASSERT_TRUE(v.State == TPackageState::Truncated || v.State == TPackageState::Damaged)
        << cut << ": " << PackageStateText(v.State) << " " << v.Detail;
    seen.insert(v.State);
    TMemoryStream s(b);
    EXPECT_TRUE(HasBytesAfterImage(s));
  }
  EXPECT_TRUE(seen.count(TPackageState::Truncated));
  // The last 8 bytes zero: no trailer, but bytes behind the image.
  Bytes zeroed = good.File;
  std::fill(zeroed.end() - 8, zeroed.end(), 0);
  EXPECT_EQ(Verify(zeroed).State, TPackageState::Truncated);
}

TEST(Checksum, ExecutableImageEnd) {
  Bytes pe = PeStub();
  TMemoryStream a(pe);
  EXPECT_EQ(ExecutableImageEnd(a), 0x500);
  EXPECT_FALSE(HasBytesAfterImage(a));
  Bytes longer = pe;
  longer.push_back(0);
  TMemoryStream b(longer);
  EXPECT_TRUE(HasBytesAfterImage(b));
  // A symbol table behind the sections, with its string table, belongs to the image.
  Bytes symbols = PeStub(0x500, 2);
  symbols.resize(0x500 + 36 + 10, 0);
  Put32(symbols, 0x500 + 36, 10);
  TMemoryStream c(symbols);
  EXPECT_EQ(ExecutableImageEnd(c), 0x500 + 36 + 10);
  EXPECT_FALSE(HasBytesAfterImage(c));
  // No PE image: nothing to say about its end.
  for (Bytes other : {Bytes{'M', 'Z'}, Bytes(0x500, 'x'), Bytes()}) {
    TMemoryStream s(other);
    EXPECT_EQ(ExecutableImageEnd(s), -1);
    EXPECT_FALSE(HasBytesAfterImage(s));
  }
}
