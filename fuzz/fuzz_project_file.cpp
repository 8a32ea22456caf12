// The project file reader on arbitrary bytes, through TProject::LoadFromFile. A refused file
// leaves the project as it was; an accepted one saves and loads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/Exceptions.h"
#include "core/Sysconsts.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"

namespace {
const AnsiString kFolder = "C:\\fuzz\\";

void WriteBytes(const AnsiString& path, const uint8_t* data, size_t size) {
  TFileStream f(path, fmCreate);
  f.WriteBuffer(data, size);
}

AnsiString SavedBytes(IProject& p, const AnsiString& path) {
  p.SaveToFile(path);
  return ReadFileText(path);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = (std::filesystem::temp_directory_path() / ("fuzz-project-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  SetSandboxRoot(root);
  ForceFolders("C:\\fuzz");
  SetBaseFolder(kFolder);  // no data files there: defaults only
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBytes(kFolder + "in.gbp", data, size);
  TIntfPtr<IProject> p(new TProject());
  const AnsiString before = SavedBytes(*p, kFolder + "before.gbp");
  try {
    p->LoadFromFile(kFolder + "in.gbp", false);
  } catch (const EDamagedData&) {
    if (SavedBytes(*p, kFolder + "after.gbp") != before) std::abort();
    return 0;
  }
  const AnsiString once = SavedBytes(*p, kFolder + "once.gbp");
  TIntfPtr<IProject> q(new TProject());
  q->LoadFromFile(kFolder + "once.gbp", false);
  if (SavedBytes(*q, kFolder + "twice.gbp") != once) std::abort();
  return 0;
}
