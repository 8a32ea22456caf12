#pragma once
// The benchmarks' fixed corpus: N files of 1-64 KiB (55 % text-like, 30 % random, 15 % half
// text, half random) and three large files (150 MiB text-like, 100 MiB random, 50 MiB mostly
// zeros, scaled by a percentage). Deterministic, so every run and machine packs the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

class TGen {
public:
  explicit TGen(uint64_t seed) : FState(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return FState;
  }
  void Text(std::string& out, size_t n) {
    static const char* words[] = {"the", "setup", "file", "install", "folder", "program", "data", "of", "and",
                                  "window", "registry", "value", "to", "a", "is", "component", "user", "system"};
    while (out.size() < n) {
      uint64_t r = Next();
      out += words[(r % 18) * ((r >> 8) % 18) / 18];
      out += (r >> 40) % 11 == 0 ? '\n' : ' ';
    }
    out.resize(n);
  }
  void Random(std::string& out, size_t n) {
    while (out.size() < n) {
      uint64_t r = Next();
      out.append(reinterpret_cast<const char*>(&r), 8);
    }
    out.resize(n);
  }

private:
  uint64_t FState;
};

// Small file i of the corpus.
inline std::string SmallFile(int i) {
  TGen g(static_cast<uint64_t>(i) + 100);
  size_t n = 1024 + g.Next() % (63 * 1024 + 1);
  std::string data;
  unsigned kind = static_cast<unsigned>(i % 20);
  if (kind < 11) g.Text(data, n);
  else if (kind < 17) g.Random(data, n);
  else {
    g.Text(data, n / 2);
    g.Random(data, n);
  }
  return data;
}

// The size of large file k (0..2) at scale percent.
inline size_t LargeSize(int k, int scale) {
  const size_t mib = 1 << 20;
  const size_t sizes[3] = {150 * mib, 100 * mib, 50 * mib};
  return sizes[k] * static_cast<size_t>(scale) / 100;
}

// Large file k, handed out in parts of up to 1 MiB: kind 0 text-like, 1 random, 2 mostly zeros.
template <class F>
void LargeFile(int k, int scale, F&& part) {
  TGen g(7 + static_cast<uint64_t>(k));
  const size_t size = LargeSize(k, scale);
  for (size_t done = 0; done < size;) {
    size_t n = std::min<size_t>(1 << 20, size - done);
    std::string piece;
    if (k == 0) g.Text(piece, n);
    else if (k == 1) g.Random(piece, n);
    else {
      piece.assign(n, '\0');
      for (int j = 0; j < 16; ++j) piece[g.Next() % n] = static_cast<char>(g.Next());
    }
    part(piece);
    done += n;
  }
}

}  // namespace bench
