// The encoder table behind the compression choices: every libdeflate level 1-12 and zlib
// levels 1, 6 and 9 over the 8 KiB pieces of the benchmark corpus, one thread, one
// compressor per encoder kept for all pieces (as the builder keeps one per thread).
//   encoders [--small N] [--scale PERCENT]
// Sizes count each chunk's 4-byte length, as the package stores it; times are the thread's
// CPU time, which other work on a shared machine disturbs less than the wall clock.
// FLEVEL is the level class the streams' headers state (RFC 1950).
#include <libdeflate.h>
#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchCorpus.h"

namespace {

constexpr size_t kPiece = 8192;

double Cpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct TPieces {
  std::string Data;
  std::vector<size_t> Ends;  // a piece ends every 8 KiB and at the end of each file
  void AddFile(const std::string& file) {
    for (size_t at = 0; at < file.size(); at += kPiece) {
      const size_t n = std::min(kPiece, file.size() - at);
      Data.append(file, at, n);
      Ends.push_back(Data.size());
    }
  }
};

struct TResult {
  double Seconds = 0;
  int64_t Bytes = 0;
  int FLevel = -1;  // -1: not the same in every stream
};

template <class F>
TResult Run(const TPieces& p, F&& compress) {
  std::vector<unsigned char> out(2 * kPiece + 1024);
  TResult r;
  size_t from = 0;
  int flevel = -2;
  const double t = Cpu();
  for (size_t end : p.Ends) {
    const size_t c = compress(reinterpret_cast<const unsigned char*>(p.Data.data()) + from, end - from, out.data(),
                              out.size());
    if (c < 2) std::exit(3);
    r.Bytes += 4 + static_cast<int64_t>(c);
    const int f = out[1] >> 6;
    flevel = flevel == -2 ? f : flevel == f ? f : -1;
    from = end;
  }
  r.Seconds = Cpu() - t;
  r.FLevel = flevel;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int small = 4000, scale = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--small") small = std::atoi(argv[i + 1]);
    else if (a == "--scale") scale = std::atoi(argv[i + 1]);
  }
  TPieces p;
  for (int i = 0; i < small; ++i) p.AddFile(bench::SmallFile(i));
  for (int k = 0; k < 3; ++k) {
    std::string file;
    file.reserve(bench::LargeSize(k, scale));
    bench::LargeFile(k, scale, [&](const std::string& part) { file += part; });
    p.AddFile(file);
  }
  const double mb = static_cast<double>(p.Data.size()) / 1e6;
  std::printf("corpus: %d files of 1-64 KiB and 3 large files (scale %d %%), %.1f MB in %zu pieces of up to 8 KiB\n",
              small, scale, mb, p.Ends.size());
  std::printf("%-14s %12s %8s %9s %9s %7s\n", "encoder", "bytes", "size %", "CPU s", "MB/s", "FLEVEL");
  auto print = [&](const char* name, const TResult& r) {
    std::printf("%-14s %12lld %8.2f %9.2f %9.1f %7d\n", name, static_cast<long long>(r.Bytes),
                100.0 * static_cast<double>(r.Bytes) / static_cast<double>(p.Data.size()), r.Seconds, mb / r.Seconds,
                r.FLevel);
    std::fflush(stdout);
  };
  for (int level = 1; level <= 12; ++level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (!c) return 2;
    TResult r = Run(p, [&](const unsigned char* in, size_t n, unsigned char* out, size_t room) {
      return libdeflate_zlib_compress(c, in, n, out, room);
    });
    libdeflate_free_compressor(c);
    char name[32];
    std::snprintf(name, sizeof name, "libdeflate %d", level);
    print(name, r);
  }
  for (int level : {1, 6, 9}) {
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) return 2;
    TResult r = Run(p, [&](const unsigned char* in, size_t n, unsigned char* out, size_t room) -> size_t {
      deflateReset(&z);
      z.next_in = const_cast<Bytef*>(in);
      z.avail_in = static_cast<uInt>(n);
      z.next_out = out;
      z.avail_out = static_cast<uInt>(room);
      return deflate(&z, Z_FINISH) == Z_STREAM_END ? room - z.avail_out : 0;
    });
    deflateEnd(&z);
    char name[32];
    std::snprintf(name, sizeof name, "zlib %d", level);
    print(name, r);
  }
  return 0;
}
