// The installation run beside a plain expand-and-write of the same files, and the peak
// resident memory of installing one large file against one small file.
//   install [--dir DIR] [--small N] [--big MiB] [--level 0-3]
// DIR (default ./bench-install) holds the setup and the sandbox roots, so everything is on
// one disk. Every timed phase runs in a fresh process of its own, which also gives each
// one its own peak resident memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// Deterministic text-like content of a given size, made while it is read: the large file
// never sits in memory.
class TGenStream : public TStream {
public:
  TGenStream(uint64_t seed, int64_t size) : FSeed(seed), FSize(size) {}
  size_t Read(void* buffer, size_t count) override {
    int64_t left = FSize - FPos;
    if (left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);
    auto* p = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < count; ++i) {
      int64_t at = FPos + static_cast<int64_t>(i);
      // Words of 2-9 letters from a small vocabulary: compresses like text.
      uint64_t word = Mix(FSeed ^ static_cast<uint64_t>(at / 8)) % 64;
      int k = static_cast<int>(at % 8);
      p[i] = k >= static_cast<int>(2 + word % 7) ? ' ' : static_cast<uint8_t>('a' + (word * 7 + k * 3) % 26);
    }
    FPos += static_cast<int64_t>(count);
    return count;
  }
  void Write(const void*, size_t) override { throw EWriteError("read only"); }
  int64_t Seek(int64_t offset, int origin) override {
    FPos = origin == 0 ? offset : origin == 1 ? FPos + offset : FSize + offset;
    return FPos;
  }
  int64_t Size() override { return FSize; }
  void SetSize(int64_t) override { throw EWriteError("read only"); }

private:
  uint64_t FSeed;
  int64_t FSize;
  int64_t FPos = 0;
};

struct TConfig {
  std::string Dir = "bench-install";
  int Small = 20000;
  int BigMiB = 512;
  int Level = 1;
};

AnsiString SourceName(int i) { return Format("D:\\bench\\src\\f%05d.dat", i); }
AnsiString FolderName(int i) { return Format("d%03d", i % 100); }
int64_t SmallSize(int i) { return 1024 + static_cast<int64_t>(Mix(static_cast<uint64_t>(i)) % (63 * 1024 + 1)); }

// The project (every file below "Program Files\dNNN", the main program the first file)
// and the setup that carries it.
void MakeSetup(const TConfig& c) {
  const AnsiString dir = ProgramPath(c.Dir) + "\\";
  TIntfPtr<IProject> project(new TProject);
  project->FindWork("项目名称")->Value = "bench";
  for (int d = 0; d < 100; ++d) project->AddDirectory(FolderName(d), "Program Files", 0);
  auto files = QueryIntf<IProjectFiles>(project);
  const int n = c.Small + 1;
  for (int i = 0; i < n; ++i) {
    TFileInfoRec* r = files->GetFileList()->Add();
    r->SourcePath = SourceName(i);
    r->FileName = ExtractFileName(r->SourcePath);
    r->TargetDir = "Program Files\\" + FolderName(i);
    r->FileDate = 44000.5;
  }
  TPageInfoRec* main = project->GetPageList()->Add();
  main->Page = "安装完毕";
  main->Name = "主程序";
  main->Value = SourceName(0);
  project->SaveToFile(dir + "bench.gbp");
  {
    TFileStream f(dir + "ComList.ini", fmCreate);
    f.Write("[Com]\r\n", 7);
  }

  TFileStream setup(dir + "setup.exe", fmCreate);
  setup.Write("MZ bench stub", 13);
  TInsPackList entries;
  auto add = [&](const AnsiString& name, uint8_t kind, int64_t size) {
    TInsPackRec* r = entries.Add();
    r->Name = name;
    r->Kind = kind;
    r->FileSize = size;
    r->FileDate = 44000.5;
  };
  add("D:\\bench\\bench.gbp", pkSupport, FileSizeOf(dir + "bench.gbp"));
  add("D:\\bench\\Imports\\ComList.ini", pkSupport, 7);
  for (int i = 0; i < n; ++i) add(SourceName(i), pkProgramFile, i == n - 1 ? int64_t(c.BigMiB) << 20 : SmallSize(i));
  add("D:\\bench\\UnIns.exe", pkUninstaller, 0);
  TPackageWriteOptions options;
  options.LevelChoice = c.Level;
  options.Jobs = 0;
  WritePackage(
      setup, entries,
      [&](const TInsPackRec& rec, int32_t index) -> std::unique_ptr<TStream> {
        if (index == 0) return std::make_unique<TFileStream>(dir + "bench.gbp", fmOpenRead);
        if (index == 1) return std::make_unique<TFileStream>(dir + "ComList.ini", fmOpenRead);
        if (rec.Kind == pkUninstaller) return std::make_unique<TGenStream>(7, 4096);
        return std::make_unique<TGenStream>(static_cast<uint64_t>(index), rec.FileSize);
      },
      options);
}

// One timed phase in this process: "install", "baseline", "install-big", "install-small".
int Child(const std::string& mode, const TConfig& c) {
  const std::string root = c.Dir + "/root-" + mode;
  std::system(("rm -rf '" + root + "'").c_str());
  SetSandboxRoot(root);
  const AnsiString setup = ProgramPath(c.Dir + "/setup.exe");
  TIntfPtr<IProject> project(new TProject);
  TCompile* engine = new TCompile;
  TIntfPtr<ICompile> compile(engine);
  compile->SetProject(project);
  auto work = QueryIntf<IReleaseWork>(compile);
  TInsPackList list;
  work->ReleaseFiles(setup, list, TReleaseProgressEvent());
  const AnsiString installDir = "C:\\Program Files\\bench";
  TFileInfoList& files = *QueryIntf<IProjectFiles>(project)->GetFileList();
  if (mode == "install-big") {
    files.RemoveIf([&](const TFileInfoRec& r) { return r.SourcePath != SourceName(c.Small); });
    project->GetMainProgramItem()->Value = SourceName(c.Small);
  }
  if (mode == "install-small") files.RemoveIf([&](const TFileInfoRec& r) { return r.SourcePath != SourceName(0); });

  int64_t bytes = 0;
  double start = Now();
  if (mode == "baseline") {
    std::unordered_map<AnsiString, TInsPackRec*> byName;
    for (TInsPackRec* e : list) byName.emplace(e->Name, e);
    TFileStream in(setup, fmOpenRead | fmShareDenyNone);
    std::set<AnsiString> made;
    for (TFileInfoRec* r : files) {
      TInsPackRec* e = byName.at(r->SourcePath);
      AnsiString folder = installDir + "\\" + r->TargetDir.substr(14);
      if (made.insert(folder).second) ForceFolders(folder);
      TFileStream out(folder + "\\" + r->FileName, fmCreate);
      ExpandChunks(in, out, e->DataStart, e->DataEnd, setup);
      bytes += e->FileSize;
    }
  } else {
    for (TFileInfoRec* r : files) bytes += r->FileSize ? r->FileSize : 0;
    work->InstallFiles("bench", installDir, "", setup, list, TReleaseProgressEvent());
  }
  double seconds = Now() - start;
  std::printf("%.3f\n", seconds);
  std::system(("rm -rf '" + root + "'").c_str());
  return 0;
}

struct TResult {
  double Seconds = -1;
  long MaxRssKiB = 0;
};

TResult Spawn(const char* self, const std::string& mode, const TConfig& c) {
  // The previous phase's files go to the disk first, not during this one's timing.
  sync();
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl(self, self, "--child", mode.c_str(), "--dir", c.Dir.c_str(), "--small", std::to_string(c.Small).c_str(),
          "--big", std::to_string(c.BigMiB).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  TResult r;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) r.Seconds = std::atof(out.c_str());
  r.MaxRssKiB = ru.ru_maxrss;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  TConfig c;
  std::string child;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--dir") c.Dir = v;
    else if (a == "--small") c.Small = std::atoi(v.c_str());
    else if (a == "--big") c.BigMiB = std::atoi(v.c_str());
    else if (a == "--level") c.Level = std::atoi(v.c_str());
    else if (a == "--child") child = v;
  }
  try {
    if (!child.empty()) return Child(child, c);
    std::system(("mkdir -p '" + c.Dir + "'").c_str());
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 2;
    self[len] = 0;

    double t0 = Now();
    MakeSetup(c);
    const int64_t setupSize = FileSizeOf(ProgramPath(c.Dir + "/setup.exe"));
    std::printf("setup: %d files of 1-64 KiB and one of %d MiB, level %d: %.1f MiB, made in %.1f s\n", c.Small,
                c.BigMiB, c.Level, setupSize / 1048576.0, Now() - t0);
    // Warm the page cache once so neither side pays for the first read of the setup.
    std::system(("cat '" + c.Dir + "/setup.exe' > /dev/null").c_str());

    double base = 1e30, inst = 1e30;
    for (int round = 0; round < 2; ++round) {
      TResult b = Spawn(self, "baseline", c);
      TResult i = Spawn(self, "install", c);
      if (b.Seconds < 0 || i.Seconds < 0) {
        std::fprintf(stderr, "install: a phase failed\n");
        return 1;
      }
      std::printf("round %d: baseline %.2f s, InstallFiles %.2f s\n", round + 1, b.Seconds, i.Seconds);
      base = std::min(base, b.Seconds);
      inst = std::min(inst, i.Seconds);
    }
    std::printf("best: baseline %.2f s, InstallFiles %.2f s, ratio baseline/InstallFiles %.2f (goal >= 0.8)\n", base,
                inst, base / inst);
    TResult big = Spawn(self, "install-big", c);
    TResult small = Spawn(self, "install-small", c);
    std::printf("peak resident memory: one %d MiB file %ld KiB, one small file %ld KiB (%.2f s for the large file)\n",
                c.BigMiB, big.MaxRssKiB, small.MaxRssKiB, big.Seconds);
    std::system(("rm -rf '" + c.Dir + "'").c_str());
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "install: %s\n", GbkToUtf8(e.Message()).c_str());
    return 1;
  }
}
