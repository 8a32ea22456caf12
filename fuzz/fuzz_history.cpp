// The open history on an arbitrary OpenLog.dat: loading never fails on a torn tail, and an
// entry added afterwards is read back by the next load.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/Exceptions.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/OpenHistory.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"

namespace {
const AnsiString kFolder = "C:\\fuzz\\";
const AnsiString kProject = kFolder + "Known.gbp";
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = (std::filesystem::temp_directory_path() / ("fuzz-history-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  SetSandboxRoot(root);
  ForceFolders("C:\\fuzz");
  SetBaseFolder(kFolder);
  TFileStream f(kProject, fmCreate);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    TFileStream f(HistoryFileName(), fmCreate);
    f.WriteBuffer(data, size);
  }
  {
    TOpenHistory h;
    h.AddHistory(kProject);
  }
  TOpenHistory again;
  if (again.FList.IndexOf(LowerCaseAscii(kProject)) < 0) std::abort();
  return 0;
}
