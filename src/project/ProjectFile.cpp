#include "project/ProjectFile.h"

#include "core/Exceptions.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/OpenHistory.h"
#include "project/Project.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

void WriteProjectSections(TStream& s, const TProjectFileLists& l) {
  WriteInt32(s, l.Works.Count());
  for (const TWorkInfoRec* r : l.Works) {
    WriteStreamString(s, r->Name);
    WriteStreamString(s, r->Value);
    WriteStreamString(s, r->Items);
    WriteByte(s, r->Kind);
  }

  WriteInt32(s, l.Files.Count());
  for (const TFileInfoRec* r : l.Files) {
    WriteStreamString(s, r->FileName);
    WriteStreamString(s, r->SourcePath);
    WriteStreamString(s, r->TargetDir);
    WriteStreamString(s, r->Extra);
    WriteStreamString(s, r->OsFilter);
    WriteDouble(s, r->FileDate);
    WriteInt64(s, r->FileSize);
    WriteInt32(s, r->IconIndex);
    WriteByte(s, r->NoOverwrite);
    WriteByte(s, r->AutoRun);
    WriteByte(s, r->SelfRegister);
    WriteByte(s, r->RegServer);
    WriteByte(s, r->DesignFlag);
    WriteByte(s, r->LogFlag);
  }
  WriteInt32(s, l.SpecialFiles.Count());
  for (const TSpecailFileRec* r : l.SpecialFiles) {
    WriteStreamString(s, r->TargetDir);
    WriteStreamString(s, r->Sources ? r->Sources->Text() : AnsiString());
  }

  WriteInt32(s, l.Registry.Count());
  for (const TRegistryInfoRec* r : l.Registry) {
    WriteStreamString(s, r->KeyPath);
    WriteStreamString(s, r->ValueName);
    WriteStreamString(s, r->ValueData);
    WriteStreamString(s, r->OsFilter);
    WriteByte(s, r->ValueType);
    WriteByte(s, r->Extra);
  }

  WriteStreamString(s, l.Components.Text());

  WriteInt32(s, l.Pages.Count());
  for (const TPageInfoRec* r : l.Pages) {
    WriteStreamString(s, r->Page);
    WriteStreamString(s, r->Name);
    WriteStreamString(s, r->Items);
    WriteStreamString(s, r->Value);
    WriteByte(s, r->Kind);
  }

  WriteInt32(s, l.Directories.Count());
  for (const TDirectoryInfoRec* r : l.Directories) {
    WriteStreamString(s, r->Name);
    WriteStreamString(s, r->Path);
    WriteByte(s, r->Kind);
  }

  WriteInt32(s, l.Shortcuts.Count());
  for (const TShotCutInfoRec* r : l.Shortcuts) {
    WriteStreamString(s, r->Folder);
    WriteStreamString(s, r->Name);
    WriteStreamString(s, r->Description);
    WriteStreamString(s, r->Target);
    WriteStreamString(s, r->Arguments);
    WriteByte(s, r->ExtraByte);
    WriteInt32(s, r->ExtraInt);
  }
}

namespace {
// Reads one section, turning a read past the end into an error that says where.
class TSectionReader {
public:
  TSectionReader(TStream& s, const AnsiString& fileName) : FS(s), FFileName(fileName) {}

  template <class F>
  void Section(const char* name, F body) {
    FSection = name;
    FRecord = -1;
    try {
      body();
    } catch (const EReadError& e) {
      AnsiString where = FRecord >= 0 ? Format("%s section, record %d", FSection, FRecord + 1) : AnsiString(FSection) + " section";
      throw EDamagedData("Damaged project file \"" + FFileName + "\": " + where + ": " + e.Message());
    }
  }
  // A count of 0 or less means no records. Records are read one by one, so a count is only
  // checked against the smallest size its records could have.
  int32_t Count(int minRecordSize) {
    int32_t n = ReadInt32(FS);
    if (n <= 0) return 0;
    if (static_cast<int64_t>(n) * minRecordSize > FS.Remaining())
      throw EReadError(Format("count %d runs past the end of the file", n));
    return n;
  }
  void Record(int32_t i) { FRecord = i; }
  TStream& S() { return FS; }

private:
  TStream& FS;
  const AnsiString& FFileName;
  const char* FSection = "";
  int32_t FRecord = -1;
};
}  // namespace

void ReadProjectSections(TStream& s, const AnsiString& fileName, TProjectFileData& d) {
  TSectionReader rd(s, fileName);
  rd.Section("settings", [&] {
    for (int32_t i = 0, n = rd.Count(13); i < n; ++i) {
      rd.Record(i);
      TWorkInfoRec* r = d.Works.Add();
      r->Name = ReadStreamString(s);
      r->Value = ReadStreamString(s);
      r->Items = ReadStreamString(s);
      r->Kind = ReadByte(s);
    }
  });
  rd.Section("files", [&] {
    for (int32_t i = 0, n = rd.Count(46); i < n; ++i) {
      rd.Record(i);
      TFileInfoRec* r = d.Files.Add();
      r->FileName = ReadStreamString(s);
      r->SourcePath = ReadStreamString(s);
      r->TargetDir = ReadStreamString(s);
      r->Extra = ReadStreamString(s);
      r->OsFilter = ReadStreamString(s);
      r->FileDate = ReadDouble(s);
      r->FileSize = ReadInt64(s);
      r->IconIndex = ReadInt32(s);
      r->NoOverwrite = ReadByte(s);
      r->AutoRun = ReadByte(s);
      r->SelfRegister = ReadByte(s);
      r->RegServer = ReadByte(s);
      r->DesignFlag = ReadByte(s);
      r->LogFlag = ReadByte(s);
    }
  });
  rd.Section("special files", [&] {
    for (int32_t i = 0, n = rd.Count(8); i < n; ++i) {
      rd.Record(i);
      TSpecailFileRec* r = d.SpecialFiles.Add();
      r->TargetDir = ReadStreamString(s);
      r->Sources->SetText(ReadStreamString(s));
    }
  });
  rd.Section("registry", [&] {
    for (int32_t i = 0, n = rd.Count(18); i < n; ++i) {
      rd.Record(i);
      TRegistryInfoRec* r = d.Registry.Add();
      r->KeyPath = ReadStreamString(s);
      r->ValueName = ReadStreamString(s);
      r->ValueData = ReadStreamString(s);
      r->OsFilter = ReadStreamString(s);
      r->ValueType = ReadByte(s);
      r->Extra = ReadByte(s);
    }
  });
  rd.Section("components", [&] { d.Components.SetText(ReadStreamString(s)); });
  rd.Section("pages", [&] {
    for (int32_t i = 0, n = rd.Count(17); i < n; ++i) {
      rd.Record(i);
      TPageInfoRec* r = d.Pages.Add();
      r->Page = ReadStreamString(s);
      r->Name = ReadStreamString(s);
      r->Items = ReadStreamString(s);
      r->Value = ReadStreamString(s);
      r->Kind = ReadByte(s);
    }
  });
  rd.Section("directories", [&] {
    for (int32_t i = 0, n = rd.Count(9); i < n; ++i) {
      rd.Record(i);
      TDirectoryInfoRec* r = d.Directories.Add();
      r->Name = ReadStreamString(s);
      r->Path = ReadStreamString(s);
      r->Kind = ReadByte(s);
    }
  });
  rd.Section("shortcuts", [&] {
    for (int32_t i = 0, n = rd.Count(25); i < n; ++i) {
      rd.Record(i);
      TShotCutInfoRec* r = d.Shortcuts.Add();
      r->Folder = ReadStreamString(s);
      r->Name = ReadStreamString(s);
      r->Description = ReadStreamString(s);
      r->Target = ReadStreamString(s);
      r->Arguments = ReadStreamString(s);
      r->ExtraByte = ReadByte(s);
      r->ExtraInt = ReadInt32(s);
    }
  });
}

void ReadProjectFile(const AnsiString& fileName, TProjectFileData& data) {
  // Read whole first: parsing then touches memory only, and never the disk past its end.
  AnsiString bytes = ReadFileText(fileName);
  TMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  ReadProjectSections(s, fileName, data);
}

void WriteProjectFile(const AnsiString& fileName, const TProjectFileLists& lists) {
  TMemoryStream buffer;
  WriteProjectSections(buffer, lists);
  ReplaceFileContent(fileName, buffer.Data().data(), buffer.Data().size());
}

// ---- TProject: save and load ----

void TProject::SaveToFile(const AnsiString& fileName) {
  WriteProjectFile(fileName, {FWorkInfos, FFileInfos, FSpecialFiles, FRegistryInfos, FComponents, FPageInfos,
                              FDirectoryInfos, FShortcuts});
  FFileName = fileName;
}

void TProject::LoadFromFile(const AnsiString& fileName, bool addToHistory) {
  // Everything is read and prepared aside; the project changes only once nothing can fail.
  TProjectFileData d;
  ReadProjectFile(fileName, d);
  // Before the take-over: a history that cannot be written leaves the project as it was,
  // rather than holding one file's content under another file's name.
  if (addToHistory) FHistory->AddHistory(fileName);
  LoadFromData(d, fileName);
}

void TProject::LoadFromData(TProjectFileData& d, const AnsiString& fileName) {
  for (TFileInfoRec* r : d.Files) r->IconIndex = FileIconIndex(r->SourcePath, true);
  {
    TIniFile ini(BaseFolder() + "Ins.ini");
    for (TWorkInfoRec* r : d.Works) r->Hint = ini.ReadString("基本信息描述", r->Name, "");
  }
  for (TWorkInfoRec* stored : d.Works) {
    TWorkInfoRec* r = FindWork(stored->Name);
    if (!r) r = FWorkInfos.Add();
    *r = *stored;
  }
  FFileInfos = std::move(d.Files);
  FSpecialFiles = std::move(d.SpecialFiles);
  FRegistryInfos = std::move(d.Registry);
  FComponents = std::move(d.Components);
  FPageInfos = std::move(d.Pages);
  FDirectoryInfos = std::move(d.Directories);
  FShortcuts = std::move(d.Shortcuts);
  FFileName = fileName;
}
