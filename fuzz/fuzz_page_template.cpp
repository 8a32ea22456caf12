// The page template reader on arbitrary text: either a format error for a short line or one
// record per line, each with a kind from the table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/Exceptions.h"
#include "core/StringList.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = (std::filesystem::temp_directory_path() / ("fuzz-page-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  SetSandboxRoot(root);
  ForceFolders("C:\\fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const AnsiString path = "C:\\fuzz\\Page.txt";
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer(data, size);
  }
  TPageInfoList list;
  try {
    ReadPageTemplate(path, list);
  } catch (const EListError&) {
    return 0;
  }
  TStringList lines;
  lines.SetText(AnsiString(reinterpret_cast<const char*>(data), size));
  if (list.Count() != lines.Count()) std::abort();
  for (TPageInfoRec* r : list)
    if (r->Kind > 7) std::abort();
  return 0;
}
