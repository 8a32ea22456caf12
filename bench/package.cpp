// Throughput of the chunk routines beside plain libdeflate over the same 8 KiB pieces, and the
// peak resident memory while packing and expanding a 1 GiB file.
//   package [--size MiB] [--rounds N] [--big-size MiB] [--skip-memory]
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/Package.h"
#include "system/FileStream.h"
#include "system/Platform.h"

namespace {

// A monotonic clock in seconds (<chrono> does not compile with the GBK execution charset).
// Single-thread comparisons use the thread's CPU time, which other work on a shared
// machine disturbs far less than the wall clock; thread scaling needs the wall clock.
struct Clock {
  static double Read(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  static double now() { return Read(CLOCK_MONOTONIC); }
  static double cpu() { return Read(CLOCK_THREAD_CPUTIME_ID); }
};
double Seconds(double a, double b) { return b - a; }

// Deterministic mixed data: text-like runs (50 %), random runs (30 %), zero runs (20 %).
class TCorpus {
public:
  explicit TCorpus(uint64_t seed) : FState(seed) {
    for (int i = 0; i < 400; ++i) {
      std::string w;
      size_t len = 2 + Next() % 9;
      for (size_t k = 0; k < len; ++k) w += static_cast<char>('a' + Next() % 26);
      FWords.push_back(w);
    }
  }
  // Appends about n bytes (whole runs) to out.
  void Fill(std::vector<uint8_t>& out, size_t n) {
    size_t target = out.size() + n;
    while (out.size() < target) {
      size_t run = 4096 + Next() % (256 * 1024);
      unsigned kind = static_cast<unsigned>(Next() % 10);
      if (kind < 5) {
        size_t end = out.size() + run;
        while (out.size() < end) {
          // Skewed choice: a few words are common, as in real text.
          uint64_t r = Next();
          const std::string& w = FWords[(r % 400) * ((r >> 20) % 400) / 400];
          out.insert(out.end(), w.begin(), w.end());
          out.push_back((r >> 40) % 12 == 0 ? '\n' : ' ');
        }
      } else if (kind < 8) {
        for (size_t i = 0; i < run; i += 8) {
          uint64_t r = Next();
          uint8_t b[8];
          std::memcpy(b, &r, 8);
          out.insert(out.end(), b, b + std::min<size_t>(8, run - i));
        }
      } else {
        out.insert(out.end(), run, 0);
      }
    }
  }

private:
  uint64_t Next() {
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return FState;
  }
  uint64_t FState;
  std::vector<std::string> FWords;
};

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

// Plain libdeflate over the same pieces, one compressor (a libdeflate call keeps no state
// from the one before, so these are the bytes of fresh streams).
std::vector<uint8_t> RawCompress(const std::vector<uint8_t>& src, int level) {
  std::vector<uint8_t> out(src.size() + src.size() / 100 + 4096);
  size_t at = 0;
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (!c) std::abort();
  for (size_t pos = 0; pos < src.size(); pos += kChunkSize) {
    size_t n = std::min<size_t>(kChunkSize, src.size() - pos);
    const size_t bound = libdeflate_zlib_compress_bound(c, n);
    if (at + 4 + bound > out.size()) out.resize(out.size() * 2 + bound);
    size_t len = libdeflate_zlib_compress(c, &src[pos], n, &out[at + 4], bound);
    if (len == 0) std::abort();
    PutLE32(&out[at], static_cast<uint32_t>(len));
    at += 4 + len;
  }
  libdeflate_free_compressor(c);
  out.resize(at);
  return out;
}

std::vector<uint8_t> RawExpand(const std::vector<uint8_t>& chunks, size_t expandedSize) {
  std::vector<uint8_t> out(expandedSize);
  size_t at = 0;
  for (size_t pos = 0; pos < chunks.size();) {
    uint32_t c = GetLE32(&chunks[pos]);
    uLongf len = kChunkSize;
    if (uncompress(&out[at], &len, &chunks[pos + 4], c) != Z_OK) std::abort();
    at += len;
    pos += 4 + c;
  }
  out.resize(at);
  return out;
}

long PeakResidentKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof(line), f))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
  std::fclose(f);
  return kb;
}

// How many cores this process really gets now: the same spinning work on one thread and
// on every core. On a shared machine the thread scaling below cannot exceed this.
double AvailableParallelism(int cores) {
  auto spin = [] {
    volatile uint64_t x = 0;
    for (uint64_t i = 0; i < 300000000ULL; ++i) x = x + i;
  };
  double t0 = Clock::now();
  spin();
  double one = Clock::now() - t0;
  std::vector<std::thread> threads;
  t0 = Clock::now();
  for (int i = 0; i < cores; ++i) threads.emplace_back(spin);
  for (auto& t : threads) t.join();
  double all = Clock::now() - t0;
  return cores * one / all;
}

void Throughput(size_t sizeMiB, int rounds) {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  std::printf("corpus: %zu MiB mixed (text-like 50 %%, random 30 %%, zeros 20 %%), %d rounds (best), %d cores\n",
              sizeMiB, rounds, cores);
  std::printf("available parallelism now (spinning threads, all cores vs one): %.2fx\n\n",
              AvailableParallelism(std::max(cores, 1)));
  std::vector<uint8_t> corpus;
  corpus.reserve(sizeMiB * 1024 * 1024 + 512 * 1024);
  TCorpus(42).Fill(corpus, sizeMiB * 1024 * 1024);
  corpus.resize(sizeMiB * 1024 * 1024);
  const double total = static_cast<double>(corpus.size());

  std::printf("single thread: MB/s of CPU time; jobs columns: MB/s of wall time\n");
  std::printf("%-20s %9s %9s %8s %7s %10s %10s %7s %7s\n", "pack (choice/level)", "raw", "ours", "ratio", "goal",
              "jobs=1", "jobs=all", "scale", "size %");
  std::vector<uint8_t> level2;
  for (int choice = 0; choice < 4; ++choice) {
    int level = EncoderLevelForChoice(choice);
    double raw = 1e30, ours = 1e30, wall1 = 1e30, par = 1e30;
    std::vector<uint8_t> ourBytes;
    for (int r = 0; r < rounds; ++r) {
      double t0 = Clock::cpu();
      std::vector<uint8_t> rawBytes = RawCompress(corpus, level);
      double t1 = Clock::cpu();
      raw = std::min(raw, t1 - t0);

      TMemoryStream src(std::move(corpus)), dest;
      dest.Data().reserve(rawBytes.size() + 4096);
      double w0 = Clock::now();
      t0 = Clock::cpu();
      CompressToChunks(src, dest, choice, 1);
      t1 = Clock::cpu();
      double w1 = Clock::now();
      ours = std::min(ours, t1 - t0);
      wall1 = std::min(wall1, w1 - w0);
      if (dest.Data() != rawBytes) {
        std::printf("output differs from fresh streams at choice %d\n", choice);
        std::exit(1);
      }
      TMemoryStream pdest;
      pdest.Data().reserve(rawBytes.size() + 4096);
      w0 = Clock::now();
      CompressToChunks(src, pdest, choice, 0);
      w1 = Clock::now();
      par = std::min(par, w1 - w0);
      if (pdest.Data() != rawBytes) {
        std::printf("parallel output differs at choice %d\n", choice);
        std::exit(1);
      }
      corpus = std::move(src.Data());
      ourBytes = std::move(dest.Data());
    }
    char label[32];
    std::snprintf(label, sizeof(label), "%d / %d", choice, level);
    std::printf("%-20s %9.1f %9.1f %7.2fx %7s %10.1f %10.1f %6.2fx %7.1f\n", label, MiB(total) / raw,
                MiB(total) / ours, raw / ours, ">=1.10", MiB(total) / wall1, MiB(total) / par, wall1 / par,
                100.0 * static_cast<double>(ourBytes.size()) / total);
    if (choice == 2) level2 = std::move(ourBytes);
  }

  double raw = 1e30, ours = 1e30;
  for (int r = 0; r < rounds; ++r) {
    double t0 = Clock::cpu();
    std::vector<uint8_t> back = RawExpand(level2, corpus.size());
    double t1 = Clock::cpu();
    raw = std::min(raw, t1 - t0);
    TMemoryStream src(std::move(level2)), dest;
    dest.Data().reserve(corpus.size());
    t0 = Clock::cpu();
    ExpandChunks(src, dest, 0, src.Size());
    t1 = Clock::cpu();
    ours = std::min(ours, t1 - t0);
    if (dest.Data() != corpus || back != corpus) {
      std::printf("expansion differs\n");
      std::exit(1);
    }
    level2 = std::move(src.Data());
  }
  std::printf("\n%-20s %9s %9s %8s %7s\n", "expand", "raw", "ours", "ratio", "goal");
  std::printf("%-20s %9.1f %9.1f %7.2fx %7s\n", "choice 2 chunks", MiB(total) / raw, MiB(total) / ours, raw / ours,
              ">=0.95");
}

// Runs in its own process so that its peak is its own.
int MemoryPhase(size_t bigMiB, int jobs) {
  char dirTemplate[] = "/tmp/bench-package.XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  std::string dir = dirTemplate;
  AnsiString srcName = ProgramPath(dir + "/source.bin"), setupName = ProgramPath(dir + "/chunks.bin"),
             outName = ProgramPath(dir + "/expanded.bin");
  uLong crc = crc32(0, nullptr, 0);
  {
    TFileStream f(srcName, fmCreate);
    TCorpus corpus(7);
    std::vector<uint8_t> buf;
    size_t left = bigMiB * 1024 * 1024;
    while (left > 0) {
      buf.clear();
      corpus.Fill(buf, 1024 * 1024);
      size_t n = std::min(left, buf.size());
      f.Write(buf.data(), n);
      crc = crc32(crc, buf.data(), static_cast<uInt>(n));
      left -= n;
    }
  }
  long before = PeakResidentKiB();
  double t0 = Clock::now();
  {
    TFileStream src(srcName, fmOpenRead | fmShareDenyNone);
    TFileStream dest(setupName, fmCreate);
    CompressToChunks(src, dest, 1, jobs);
  }
  double t1 = Clock::now();
  long afterPack = PeakResidentKiB();
  {
    TFileStream src(setupName, fmOpenRead | fmShareDenyNone);
    TFileStream dest(outName, fmCreate);
    ExpandChunks(src, dest, 0, src.Size(), setupName);
  }
  double t2 = Clock::now();
  long afterExpand = PeakResidentKiB();
  uLong back = crc32(0, nullptr, 0);
  {
    TFileStream f(outName, fmOpenRead | fmShareDenyNone);
    std::vector<uint8_t> buf(1024 * 1024);
    for (size_t n; (n = f.Read(buf.data(), buf.size())) > 0;) back = crc32(back, buf.data(), static_cast<uInt>(n));
  }
  std::printf("%zu MiB file, choice 1, jobs %d: pack %.1f s, expand %.1f s, round trip %s\n", bigMiB, jobs,
              Seconds(t0, t1), Seconds(t1, t2), back == crc ? "identical" : "DIFFERENT");
  std::printf("  peak resident: %.1f MiB before packing, %.1f MiB after packing, %.1f MiB after expanding (goal <= 32)\n",
              before / 1024.0, afterPack / 1024.0, afterExpand / 1024.0);
  std::remove((dir + "/source.bin").c_str());
  std::remove((dir + "/chunks.bin").c_str());
  std::remove((dir + "/expanded.bin").c_str());
  rmdir(dir.c_str());
  return back == crc ? 0 : 1;
}

int RunChild(const char* self, size_t bigMiB, int jobs) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    std::string size = std::to_string(bigMiB), j = std::to_string(jobs);
    execl(self, self, "--memory-phase", size.c_str(), j.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--memory-phase") == 0)
    return MemoryPhase(std::strtoul(argv[2], nullptr, 10), std::atoi(argv[3]));
  size_t sizeMiB = 256, bigMiB = 1024;
  int rounds = 1;
  bool memory = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) sizeMiB = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--big-size" && i + 1 < argc) bigMiB = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--skip-memory") memory = false;
    else {
      std::fprintf(stderr, "usage: package [--size MiB] [--rounds N] [--big-size MiB] [--skip-memory]\n");
      return 2;
    }
  }
  int rc = 0;
  if (memory) {
    std::printf("== peak memory (separate processes)\n");
    rc |= RunChild("/proc/self/exe", bigMiB, 1);
    rc |= RunChild("/proc/self/exe", bigMiB, 0);
    std::printf("\n");
  }
  std::printf("== throughput\n");
  Throughput(sizeMiB, rounds);
  return rc;
}
