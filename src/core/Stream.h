#pragma once
// Byte streams and the stream-string encoding of the program's binary files:
// a 4-byte little-endian signed length, then that many GBK bytes, no terminator.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Types.h"

class TStream {
public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes or raises EWriteError.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;  // origin: 0 begin, 1 current, 2 end
  virtual int64_t Size() = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, 1); }
  void SetPosition(int64_t pos) { Seek(pos, 0); }
  int64_t Remaining() { int64_t r = Size() - Position(); return r < 0 ? 0 : r; }

  // Reads exactly count bytes or raises EReadError.
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count) { Write(buffer, count); }
  // Copies count bytes from source's current position (all of it from 0 when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : FData(std::move(data)) {}
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t size) override;
  const std::vector<uint8_t>& Data() const { return FData; }
  std::vector<uint8_t>& Data() { return FData; }
  void Clear() { FData.clear(); FPos = 0; }

private:
  std::vector<uint8_t> FData;
  size_t FPos = 0;
};

// Fixed-width little-endian fields.
int32_t ReadInt32(TStream& s);
int64_t ReadInt64(TStream& s);
uint8_t ReadByte(TStream& s);
double ReadDouble(TStream& s);
void WriteInt32(TStream& s, int32_t v);
void WriteInt64(TStream& s, int64_t v);
void WriteByte(TStream& s, uint8_t v);
void WriteDouble(TStream& s, double v);

// A stream string. A negative length, or one that runs past the end of the stream,
// raises EReadError before anything is allocated.
AnsiString ReadStreamString(TStream& s);
void WriteStreamString(TStream& s, const AnsiString& text);

// Little-endian helpers on raw buffers.
inline void PutLE32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void PutLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline uint32_t GetLE32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
