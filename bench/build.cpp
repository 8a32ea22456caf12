// Compile over a deterministic corpus with one thread and with every core, beside the raw
// encoder over the same 8 KiB pieces in the same run (one thread, one compressor, the files
// read with stdio and nothing written), and zlib level 9 as before.
//   build [--dir DIR] [--small N] [--scale PERCENT] [--level 0-3]
// The corpus (BenchCorpus.h): N files of 1-64 KiB and three large files (150 MiB text-like,
// 100 MiB random, 50 MiB mostly zeros, at PERCENT of their size); the default level 2.
// Growth: run again with --small 1000 --scale 25 for a quarter of the corpus.
#include <libdeflate.h>
#include <sys/resource.h>
#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchCorpus.h"
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

void WriteFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) std::exit(2);
  std::fclose(f);
}

void WriteLarge(const std::string& path, int k, int scale) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::exit(2);
  bench::LargeFile(k, scale, [&](const std::string& part) { std::fwrite(part.data(), 1, part.size(), f); });
  std::fclose(f);
}

// The raw encoder at a libdeflate level over the 8 KiB pieces of every source file: the floor
// of the format at that level.
void RawDeflate(const std::vector<std::string>& files, int level, double& seconds, int64_t& bytes) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<unsigned char> in(kChunkSize), out(libdeflate_zlib_compress_bound(c, kChunkSize));
  bytes = 0;
  double t = Now();
  for (const std::string& path : files) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(2);
    for (size_t n; (n = std::fread(in.data(), 1, in.size(), f)) > 0;)
      bytes += 4 + static_cast<int64_t>(libdeflate_zlib_compress(c, in.data(), n, out.data(), out.size()));
    std::fclose(f);
  }
  seconds = Now() - t;
  libdeflate_free_compressor(c);
}

// zlib at level 9 over the same pieces: what the builder wrote before libdeflate.
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
  int small = 4000, scale = 100, level = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--small") small = std::atoi(argv[i + 1]);
    else if (a == "--scale") scale = std::atoi(argv[i + 1]);
    else if (a == "--level") level = std::atoi(argv[i + 1]);
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
      std::string data = bench::SmallFile(i);
      const size_t n = data.size();
      std::string path = dir + "/src/f" + std::to_string(i) + ".dat";
      WriteFile(path, data);
      files.push_back(path);
      corpus += static_cast<int64_t>(n);
    }
    for (int k = 0; k < 3; ++k) {
      std::string path = dir + "/src/large" + std::to_string(k) + ".dat";
      WriteLarge(path, k, scale);
      files.push_back(path);
      corpus += static_cast<int64_t>(bench::LargeSize(k, scale));
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
    options.CompressionLevel = level;
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
    double rawSeconds, zlibSeconds;
    int64_t rawBytes, zlibBytes;
    RawDeflate(files, EncoderLevelForChoice(level), rawSeconds, rawBytes);
    RawZlib(files, zlibSeconds, zlibBytes);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double mbs = corpus / 1048576.0;
    std::printf("level %d (libdeflate %d), %d cores\n", level, EncoderLevelForChoice(level), cores);
    std::printf("Compile, 1 thread:    %6.2f s  %7.1f MiB/s  setup %.1f MiB\n", times[0], mbs / times[0],
                sizes[0] / 1048576.0);
    std::printf("Compile, %d threads:   %6.2f s  %7.1f MiB/s  setup %.1f MiB (byte-identical)\n", cores, times[1],
                mbs / times[1], sizes[1] / 1048576.0);
    std::printf("raw libdeflate %2d:    %6.2f s  %7.1f MiB/s  chunks %.1f MiB (1 thread)\n", EncoderLevelForChoice(level),
                rawSeconds, mbs / rawSeconds, rawBytes / 1048576.0);
    std::printf("raw zlib 9:           %6.2f s  %7.1f MiB/s  chunks %.1f MiB (1 thread, before)\n", zlibSeconds,
                mbs / zlibSeconds, zlibBytes / 1048576.0);
    std::printf("Compile 1 thread over raw: %.2f (the builder's own cost besides the encoder)\n",
                times[0] / rawSeconds);
    std::printf("speed-up all cores / 1 thread: %.2f (goal >= 1.8 on a machine of that many free cores)\n",
                times[0] / times[1]);
    // The setup also holds the stub (not compressed), the project, the uninstaller and the index.
    std::printf("setup without its stub over raw chunks: %+.2f %% (goal within 0.5 %%)\n",
                100.0 * (static_cast<double>(sizes[0] - 800 * 1024) - rawBytes) / rawBytes);
    std::printf("peak resident memory: %.1f MiB\n", ru.ru_maxrss / 1024.0);
    project->SetBuildOptions(nullptr);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "build: %s\n", GbkToUtf8(e.Message()).c_str());
    return 1;
  }
}
