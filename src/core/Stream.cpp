#include "core/Stream.h"

#include <algorithm>
#include <cstring>

#include "core/Exceptions.h"

void TStream::ReadBuffer(void* buffer, size_t count) {
  if (count == 0) return;
  if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buf(65536);
  int64_t left = count;
  while (left > 0) {
    size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
    source.ReadBuffer(buf.data(), n);
    Write(buf.data(), n);
    left -= static_cast<int64_t>(n);
  }
  return count;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (FPos >= FData.size()) return 0;
  size_t n = std::min(count, FData.size() - FPos);
  std::memcpy(buffer, FData.data() + FPos, n);
  FPos += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (FPos + count > FData.size()) FData.resize(FPos + count);
  std::memcpy(FData.data() + FPos, buffer, count);
  FPos += count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(FPos) : static_cast<int64_t>(FData.size());
  int64_t p = base + offset;
  if (p < 0) p = 0;
  FPos = static_cast<size_t>(p);
  return p;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(size));
  if (FPos > FData.size()) FPos = FData.size();
}

int32_t ReadInt32(TStream& s) {
  uint8_t b[4];
  s.ReadBuffer(b, 4);
  return static_cast<int32_t>(GetLE32(b));
}

int64_t ReadInt64(TStream& s) {
  uint8_t b[8];
  s.ReadBuffer(b, 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return static_cast<int64_t>(v);
}

uint8_t ReadByte(TStream& s) {
  uint8_t b;
  s.ReadBuffer(&b, 1);
  return b;
}

double ReadDouble(TStream& s) {
  int64_t bits = ReadInt64(s);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

void WriteInt32(TStream& s, int32_t v) {
  uint8_t b[4];
  PutLE32(b, static_cast<uint32_t>(v));
  s.Write(b, 4);
}

void WriteInt64(TStream& s, int64_t v) {
  uint8_t b[8];
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(u >> (8 * i));
  s.Write(b, 8);
}

void WriteByte(TStream& s, uint8_t v) { s.Write(&v, 1); }

void WriteDouble(TStream& s, double v) {
  int64_t bits;
  std::memcpy(&bits, &v, 8);
  WriteInt64(s, bits);
}

AnsiString ReadStreamString(TStream& s) {
  int32_t len = ReadInt32(s);
  if (len < 0) throw EReadError(Format("Stream read error: negative string length %d", len));
  if (static_cast<int64_t>(len) > s.Remaining())
    throw EReadError(Format("Stream read error: string length %d runs past the end", len));
  AnsiString out(static_cast<size_t>(len), '\0');
  s.ReadBuffer(out.data(), out.size());
  return out;
}

void WriteStreamString(TStream& s, const AnsiString& text) {
  WriteInt32(s, static_cast<int32_t>(text.size()));
  s.Write(text.data(), text.size());
}
