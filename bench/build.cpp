// Compile over a deterministic corpus with one thread and with every core, beside raw zlib
// over the same 8 KiB pieces (one thread, one reused stream).
//   build [--dir DIR] [--small N] [--scale PERCENT]
// The corpus: N files of 1-64 KiB (55 % text-like, 30 % random, 15 % mixed) and three large
// files (150 MiB text-like, 100 MiB random, 50 MiB mostly zeros), at the default level.
#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

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

void WriteFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) std::exit(2);
  std::fclose(f);
}

// A large file written piece by piece: kind 0 text-like, 1 random, 2 mostly zeros.
void WriteLarge(const std::string& path, size_t size, int kind, uint64_t seed) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::exit(2);
  TGen g(seed);
  for (size_t done = 0; done < size;) {
    size_t n = std::min<size_t>(1 << 20, size - done);
    std::string piece;
    if (kind == 0) g.Text(piece, n);
    else if (kind == 1) g.Random(piece, n);
    else {
      piece.assign(n, '\0');
      for (int k = 0; k < 16; ++k) piece[g.Next() % n] = static_cast<char>(g.Next());
    }
    std::fwrite(piece.data(), 1, n, f);
    done += n;
  }
  std::fclose(f);
}

// Raw zlib at level 9 over the 8 KiB pieces of every source file: the format's own floor.
void RawZlib(const std::vector<std::string>& files, double& seconds, int64_t& bytes) {
  z_stream z{};
  deflateInit(&z, 9);
  std::vector<unsigned char> in(kChunkSize), out(compressBound(kChunkSize) + 64);
  bytes = 0;
  double t = Now();
  for (const std::string& path : files) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(2);
    for (size_t n; (n = std::fread(in.data(), 1, in.size(), f)) > 0;) {
      deflateReset(&z);
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, Z_FINISH);
      bytes += 4 + static_cast<int64_t>(out.size() - z.avail_out);
    }
    std::fclose(f);
  }
  seconds = Now() - t;
  deflateEnd(&z);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "bench-build";
  int small = 4000, scale = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--small") small = std::atoi(argv[i + 1]);
    else if (a == "--scale") scale = std::atoi(argv[i + 1]);
  }
  try {
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "/src' '" + dir + "/data/Exe' '" + dir +
                 "/data/Imports' '" + dir + "/out'").c_str());
    WriteFile(dir + "/data/Exe/Setup.exe", std::string(800 * 1024, 'S'));
    WriteFile(dir + "/data/Exe/UnIns.exe", std::string(500 * 1024, 'U'));
    WriteFile(dir + "/data/Imports/ComList.ini", "[Com]\r\n");

    double t0 = Now();
    std::vector<std::string> files;
    int64_t corpus = 0;
    for (int i = 0; i < small; ++i) {
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
      std::string path = dir + "/src/f" + std::to_string(i) + ".dat";
      WriteFile(path, data);
      files.push_back(path);
      corpus += static_cast<int64_t>(n);
    }
    const size_t mib = 1 << 20;
    const size_t large[3] = {150 * mib * scale / 100, 100 * mib * scale / 100, 50 * mib * scale / 100};
    for (int k = 0; k < 3; ++k) {
      std::string path = dir + "/src/large" + std::to_string(k) + ".dat";
      WriteLarge(path, large[k], k, 7 + static_cast<uint64_t>(k));
      files.push_back(path);
      corpus += static_cast<int64_t>(large[k]);
    }
    std::printf("corpus: %d files of 1-64 KiB and 3 large files, %.1f MiB, written in %.1f s\n", small,
                corpus / 1048576.0, Now() - t0);

    SetBaseFolder(ProgramPath(dir + "/data") + "\\");
    TIntfPtr<IProject> project(new TProject);
    project->FindWork("项目名称")->Value = "bench";
    auto list = QueryIntf<IProjectFiles>(project)->GetFileList();
    for (const std::string& f : files) {
      TFileInfoRec* r = list->Add();
      r->SourcePath = ProgramPath(f);
      r->FileName = ExtractFileName(r->SourcePath);
      r->TargetDir = "Program Files";
    }
    project->SaveToFile(ProgramPath(dir + "/bench.gbp"));
    TBuildOptions options;
    options.OutputFolder = ProgramPath(dir + "/out");
    options.CompressionLevel = 2;
    project->SetBuildOptions(&options);
    TIntfPtr<ICompile> compile(new TCompile);
    compile->SetProject(project);

    std::system(("cat '" + dir + "'/src/* > /dev/null").c_str());  // both runs read from the page cache
    double times[2];
    int64_t sizes[2];
    std::string first;
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    for (int run = 0; run < 2; ++run) {
      options.Jobs = run == 0 ? 1 : 0;
      double t = Now();
      compile->Compile();
      times[run] = Now() - t;
      sizes[run] = FileSizeOf(compile->GetSetupFileName());
      std::string copy = dir + "/out/run" + std::to_string(run) + ".exe";
      std::rename(HostPath(compile->GetSetupFileName()).c_str(), copy.c_str());
      if (run == 0) first = copy;
      else if (std::system(("cmp -s '" + first + "' '" + copy + "'").c_str()) != 0) {
        std::printf("the two builds differ\n");
        return 1;
      }
    }
    double rawSeconds;
    int64_t rawBytes;
    RawZlib(files, rawSeconds, rawBytes);
    const double mbs = corpus / 1048576.0;
    std::printf("Compile, 1 thread:   %6.2f s  %7.1f MiB/s  setup %.1f MiB\n", times[0], mbs / times[0],
                sizes[0] / 1048576.0);
    std::printf("Compile, %d threads: %6.2f s  %7.1f MiB/s  setup %.1f MiB (byte-identical)\n", cores, times[1],
                mbs / times[1], sizes[1] / 1048576.0);
    std::printf("raw zlib 9, pieces:  %6.2f s  %7.1f MiB/s  chunks %.1f MiB\n", rawSeconds, mbs / rawSeconds,
                rawBytes / 1048576.0);
    std::printf("speed-up all cores / 1 thread: %.2f (goal >= 1.8 on a machine of that many free cores)\n",
                times[0] / times[1]);
    // The setup also holds the stub (not compressed), the project, the uninstaller and the index.
    std::printf("setup without its stub over raw chunks: %+.2f %% (goal within 0.5 %%)\n",
                100.0 * (static_cast<double>(sizes[0] - 800 * 1024) - rawBytes) / rawBytes);
    project->SetBuildOptions(nullptr);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "build: %s\n", GbkToUtf8(e.Message()).c_str());
    return 1;
  }
}
