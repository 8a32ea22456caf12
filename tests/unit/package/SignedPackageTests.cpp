// The package of a signed setup: a certificate table stands behind the end marker.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/Package.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A minimal PE header: DOS header, "PE\0\0", file header and a 32-bit (0x10B) or 64-bit
// (0x20B) optional header with 16 data directories. Returns the offset of directory 4.
Bytes PeStub(uint16_t magic, size_t& securityAt) {
  Bytes b(512, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutLE32(&b[0x3C], 0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  const size_t opt = 0x80 + 24;
  const size_t dirs = magic == 0x10B ? 96 : 112;
  PutLE16(&b[0x80 + 4], magic == 0x10B ? 0x14C : 0x8664);
  PutLE16(&b[0x80 + 20], uint16_t(dirs + 16 * 8));  // SizeOfOptionalHeader
  PutLE16(&b[opt], magic);
  PutLE32(&b[opt + dirs - 4], 16);  // NumberOfRvaAndSizes
  securityAt = opt + dirs + 4 * 8;
  return b;
}

Bytes Filler(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 5));
  return b;
}

struct TBuilt {
  Bytes File;     // the unsigned setup
  std::vector<Bytes> Data;
};

TBuilt BuildSetup(const Bytes& stub, const AnsiString& text) {
  TBuilt r;
  r.Data = {Filler(3000, 1), Filler(20000, 2), {}, Filler(8192, 3)};
  TInsPackList entries;
  for (size_t i = 0; i < r.Data.size(); ++i) {
    TInsPackRec* e = entries.Add();
    e->Name = "C:\\app\\f" + std::to_string(i);
    e->Kind = i == r.Data.size() - 1 ? pkUninstaller : pkProgramFile;
    e->FileSize = i == r.Data.size() - 1 ? 0 : int64_t(r.Data[i].size());
  }
  TMemoryStream setup(stub);
  TPackageWriteOptions o;
  o.TextBlock = text;
  WritePackage(
      setup, entries, [&](const TInsPackRec&, int32_t i) { return std::make_unique<TMemoryStream>(r.Data[size_t(i)]); },
      o);
  r.File = setup.Data();
  return r;
}

// What a signer does: zero bytes up to an 8-byte boundary, the certificate table (its
// length a multiple of 8) and the security directory naming it.
Bytes Sign(Bytes file, size_t securityAt, size_t tableSize = 1440, uint8_t padByte = 0) {
  while (file.size() % 8 != 0) file.push_back(padByte);
  const size_t table = file.size();
  Bytes cert = Filler(tableSize, 9);
  PutLE32(&cert[0], uint32_t(tableSize));
  file.insert(file.end(), cert.begin(), cert.end());
  PutLE32(&file[securityAt], uint32_t(table));
  PutLE32(&file[securityAt + 4], uint32_t(tableSize));
  return file;
}

std::vector<Bytes> ReadEntries(const Bytes& file, TInsPackList& list) {
  TMemoryStream s(file);
  ReadPackage(s, list, "C:\\out\\Setup.exe");
  std::vector<Bytes> out;
  for (TInsPackRec* e : list) {
    TMemoryStream dest;
    ExpandChunks(s, dest, e->DataStart, e->DataEnd, "C:\\out\\Setup.exe");
    out.push_back(dest.Data());
  }
  return out;
}

}  // namespace

TEST(SignedPackage, PackageEndsBeforeThePaddingAndTheTable) {
  for (uint16_t magic : {uint16_t(0x10B), uint16_t(0x20B)}) {
    size_t securityAt = 0;
    const Bytes stub = PeStub(magic, securityAt);
    // Text blocks of 8 consecutive lengths give every padding from 0 to 7 bytes.
    std::set<size_t> paddings;
    for (int extra = 0; extra < 8; ++extra) {
      SCOPED_TRACE("magic " + std::to_string(magic) + ", text +" + std::to_string(extra));
      // The end marker's high bytes are zeros too, as the padding is.
      const TBuilt built = BuildSetup(stub, AnsiString("gbsetup") + AnsiString(size_t(extra), 'x'));
      const Bytes signedFile = Sign(built.File, securityAt);
      paddings.insert((8 - built.File.size() % 8) % 8);
      TMemoryStream s(signedFile);
      EXPECT_EQ(PackageEnd(s), int64_t(built.File.size()));
      TInsPackList list;
      EXPECT_EQ(ReadEntries(signedFile, list), built.Data);
      ASSERT_EQ(list.Count(), 4);
      EXPECT_EQ(list[3]->Kind, pkUninstaller);
    }
    EXPECT_EQ(paddings.size(), 8u);
  }
}

TEST(SignedPackage, OnlyATableAtTheEndOfTheFileCounts) {
  size_t securityAt = 0;
  const Bytes stub = PeStub(0x10B, securityAt);
  const TBuilt built = BuildSetup(stub, "gbsetup");
  {
    // Unsigned: the file size, the package as always.
    TMemoryStream s(built.File);
    EXPECT_EQ(PackageEnd(s), int64_t(built.File.size()));
  }
  {
    // A directory whose table does not reach the end of the file (or runs past it) is not
    // a signature behind the package: the end marker is the file's last 8 bytes.
    Bytes b = Sign(built.File, securityAt);
    PutLE32(&b[securityAt + 4], GetLE32(&b[securityAt + 4]) - 8);
    TMemoryStream s(b);
    EXPECT_EQ(PackageEnd(s), int64_t(b.size()));
    PutLE32(&b[securityAt + 4], GetLE32(&b[securityAt + 4]) + 16);
    TMemoryStream s2(b);
    EXPECT_EQ(PackageEnd(s2), int64_t(b.size()));
  }
  {
    // Bytes other than zeros between the end marker and the table: no place describes
    // itself, so the package is taken to end at the table, and the trailer there is refused.
    Bytes unsignedFile = built.File;
    if (unsignedFile.size() % 8 == 0) unsignedFile.push_back('A');
    const Bytes b = Sign(unsignedFile, securityAt, 1440, 'A');
    const int64_t table = GetLE32(&b[securityAt]);
    TMemoryStream s(b);
    EXPECT_EQ(PackageEnd(s), table);
    TInsPackList list;
    EXPECT_THROW(ReadEntries(b, list), EDamagedPackage);
    EXPECT_EQ(list.Count(), 0);
  }
  {
    // A signed stub without a package.
    Bytes plain = stub;
    plain.resize(1000, 0);
    const Bytes b = Sign(plain, securityAt);
    TMemoryStream s(b);
    TInsPackList list;
    EXPECT_FALSE(ReadPackage(s, list).HasPackage);
  }
  {
    // A header cut short or not a PE image: the file size.
    for (size_t cut : {size_t(70), size_t(0x80 + 30), size_t(0x80 + 24 + 100)}) {
      Bytes b(stub.begin(), stub.begin() + long(cut));
      TMemoryStream s(b);
      EXPECT_EQ(PackageEnd(s), int64_t(cut));
    }
  }
}

TEST(SignedPackage, DamageBehindASignatureIsRefused) {
  // A garbled index chunk of a signed setup is reported as damage, not read.
  size_t securityAt = 0;
  const Bytes stub = PeStub(0x10B, securityAt);
  const TBuilt built = BuildSetup(stub, "gbsetup");
  Bytes b = Sign(built.File, securityAt);
  TInsPackList list;
  TMemoryStream s(b);
  TPackageTrailer t = ReadPackage(s, list);
  b[size_t(t.P2) + 12] ^= 0x5A;
  TInsPackList again;
  EXPECT_THROW(ReadEntries(b, again), EDamagedPackage);
}
