#pragma once
// SHA-256: the digest that a package manager's manifest gives of a setup file, so that a
// download can be checked against it. Written here because the builder links no
// cryptography library and this one function is all it needs.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
public:
  TSha256();
  void Update(const void* data, size_t size);
  // The digest of everything given so far. The object starts over afterwards.
  std::array<uint8_t, 32> Final();
  // Final() as 64 upper-case hex digits.
  std::string FinalHex();

private:
  void Reset();
  void Block(const uint8_t* block);
  uint32_t FState[8];
  uint8_t FBuffer[64];
  size_t FBuffered;
  uint64_t FLength;  // bytes given so far
};
