// Baseline SETUP INSTALLDIR: writes the program files of a built setup the plainest way the
// engine allows (package reader, chunk expansion, one file stream per file, each folder made
// once) to the folders the installation would use. No log, no stamps, no progress, no
// window: what is left is the work any installer of this package has to do.
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "project/ProjectFile.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: Baseline SETUP INSTALLDIR\n");
    return 2;
  }
  const AnsiString setupName = argv[1];
  const AnsiString installDir = argv[2];
  try {
    TFileStream setup(setupName, fmOpenRead | fmShareDenyNone);
    TInsPackList list;
    ReadPackage(setup, list, setupName);
    if (list.Count() < 2) throw Exception("no package");
    // The project is entry 1; its file list says where each program file goes. Read as
    // stored, in memory: the setup's own project load also does designer work (an icon
    // lookup per source file) that is no part of writing the files.
    TMemoryStream projectData;
    ExpandChunks(setup, projectData, list[0]->DataStart, list[0]->DataEnd, setupName);
    projectData.SetPosition(0);
    TProjectFileData project;
    ReadProjectSections(projectData, setupName, project);

    std::unordered_map<AnsiString, TInsPackRec*> byName;
    for (TInsPackRec* e : list) byName.emplace(UpperCaseAscii(e->Name), e);
    std::unordered_set<AnsiString> made;
    int files = 0;
    int64_t bytes = 0;
    for (TFileInfoRec* r : project.Files) {
      auto it = byName.find(UpperCaseAscii(r->SourcePath));
      if (it == byName.end()) continue;
      const AnsiString folder = ResolveTargetFolder(r->TargetDir, installDir);
      if (made.insert(folder).second) ForceFolders(folder);
      WriteEntry(setup, *it->second, WithPathDelimiter(folder) + r->FileName, setupName);
      ++files;
      bytes += it->second->FileSize;
    }
    std::printf("baseline: %d files, %lld bytes\n", files, static_cast<long long>(bytes));
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "baseline: %s\n", e.Message().c_str());
    return 1;
  }
}
