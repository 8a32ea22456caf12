#include "engine/InstallLog.h"

#include <unordered_map>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "core/Stream.h"
#include "system/FileStream.h"

const char* const SCreatedFolderMark = "创建的文件夹";
const char* const SCreatedKeyMark = "创建的注册表项";

void TInstallLog::AddRecord(const AnsiString& path, uint8_t autoRun, uint8_t selfRegister, uint8_t regServer,
                            uint8_t logFlag, const AnsiString& text) {
  TInsLogRec* r = FList.Add();
  r->Path = path;
  r->AutoRun = autoRun;
  r->SelfRegister = selfRegister;
  r->RegServer = regServer;
  r->LogFlag = logFlag;
  r->Text = text;
}

void TInstallLog::WriteToFile(const AnsiString& fileName) const {
  // Built in memory and written with one call: the log is small, and a half-written
  // file is less likely when the disk fills up.
  TMemoryStream m;
  WriteStreamString(m, Title);
  for (TInsLogRec* r : FList) {
    WriteStreamString(m, r->Path);
    WriteStreamString(m, r->Text);
    const uint8_t flags[4] = {r->AutoRun, r->SelfRegister, r->RegServer, r->LogFlag};
    m.Write(flags, 4);
  }
  TFileStream f(fileName, fmCreate);
  if (!m.Data().empty()) f.Write(m.Data().data(), m.Data().size());
}

void TInstallLog::LoadFromFile(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  TInsLogList list;
  AnsiString title;
  int64_t at = 0;
  try {
    title = ReadStreamString(f);
    while (f.Position() < f.Size()) {
      at = f.Position();
      auto r = std::make_unique<TInsLogRec>();
      r->Path = ReadStreamString(f);
      r->Text = ReadStreamString(f);
      uint8_t flags[4];
      f.ReadBuffer(flags, 4);
      r->AutoRun = flags[0];
      r->SelfRegister = flags[1];
      r->RegServer = flags[2];
      r->LogFlag = flags[3];
      list.Add(std::move(r));
    }
  } catch (const EReadError&) {
    throw EDamagedData(Format("damaged install log \"%s\": record cut short at offset %lld", fileName.c_str(),
                              static_cast<long long>(at)));
  }
  Title = title;
  FList = std::move(list);
}

TInstallLog TInstallLog::MergedAfter(const TInstallLog& earlier) const {
  // What a record is about: its path, and the value name or mark (file records have none).
  auto identity = [](const TInsLogRec& r) { return UpperCaseAscii(r.Path) + '\0' + UpperCaseAscii(r.Text); };
  TInstallLog merged;
  merged.Title = Title;
  std::unordered_map<AnsiString, TInsLogRec*> known;
  auto add = [&](const TInsLogRec& r) {
    TInsLogRec*& at = known[identity(r)];
    if (!at) {
      merged.AddRecord(r.Path, r.AutoRun, r.SelfRegister, r.RegServer, r.LogFlag, r.Text);
      at = merged.FList[merged.Count() - 1];
      return;
    }
    // Undone once, as everything either run registered: the newer file may not need it, but
    // what the older one registered is still in force.
    at->AutoRun |= r.AutoRun;
    at->SelfRegister |= r.SelfRegister;
    at->RegServer |= r.RegServer;
    // A file's byte comes from the file's newest record; a registry record keeps what the
    // first run saw (whether the key was there before it).
    if (r.Text.empty()) at->LogFlag = r.LogFlag;
  };
  for (const TInsLogRec* r : earlier.FList) add(*r);
  for (const TInsLogRec* r : FList) add(*r);
  return merged;
}
