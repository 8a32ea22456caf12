#include "EngineFixture.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "engine/Package.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

#ifndef _WIN32
#include <unistd.h>
#else
#include <process.h>
#define getpid _getpid
#endif

void EngineTest::SetUp() {
  static int counter = 0;
  // Under Wine process ids repeat from run to run; the start time keeps names apart.
  static const long long started = static_cast<long long>(std::time(nullptr));
  Unique = "gbe" + std::to_string(started) + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
#ifndef _WIN32
  setenv("TZ", "UTC", 1);
  char tmpl[] = "/tmp/gbengine-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  SetSandboxRoot(tmpl);
#endif
  Work = TempFolder() + Unique + "\\";
  ASSERT_TRUE(ForceFolders(Work));
  Reports.clear();
}

void EngineTest::TearDown() {
#ifndef _WIN32
  if (!HasFailure()) std::system(("rm -rf '" + SandboxRoot() + "'").c_str());
#endif
}

void EngineTest::MakeSetup(const AnsiString& fileName, const std::vector<TEntrySpec>& specs) {
  TFileStream f(fileName, fmCreate);
  const char stub[] = "MZ stand-in stub";
  f.Write(stub, sizeof stub);
  TInsPackList entries;
  for (const TEntrySpec& s : specs) {
    TInsPackRec* r = entries.Add();
    r->Name = s.Name;
    r->Kind = s.Kind;
    r->FileDate = s.Kind == pkUninstaller ? 0 : s.Date;
    r->FileSize = s.Kind == pkUninstaller ? 0 : static_cast<int64_t>(s.Data.size());
  }
  TPackageWriteOptions options;
  options.TextBlock = "engine tests";
  WritePackage(
      f, entries,
      [&](const TInsPackRec&, int32_t i) {
        const std::string& d = specs[static_cast<size_t>(i)].Data;
        return std::unique_ptr<TStream>(new TMemoryStream(std::vector<uint8_t>(d.begin(), d.end())));
      },
      options);
}

std::string EngineTest::ReadAll(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  std::string s(static_cast<size_t>(f.Size()), '\0');
  if (!s.empty()) f.ReadBuffer(s.data(), s.size());
  return s;
}

void EngineTest::WriteAll(const AnsiString& fileName, const std::string& data) {
  TFileStream f(fileName, fmCreate);
  if (!data.empty()) f.Write(data.data(), data.size());
}

std::vector<std::string> EngineTest::Commands() {
  std::vector<std::string> lines;
#ifndef _WIN32
  std::ifstream in(SandboxRoot() + "/commands.log", std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
#endif
  return lines;
}

TIntfPtr<ICompile> EngineTest::NewEngine(TCompile*& engine, const TIntfPtr<IProject>& project) {
  engine = new TCompile;
  TIntfPtr<ICompile> c(engine);
  c->SetProject(project);
  return c;
}
