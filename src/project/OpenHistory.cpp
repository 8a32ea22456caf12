#include "project/OpenHistory.h"

#include <memory>

#include "core/Stream.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

AnsiString HistoryFileName() { return BaseFolder() + "OpenLog.dat"; }

namespace {
// Position just after the last complete entry: a torn tail (a length or text running past
// the end, or a negative length) is where the usable history ends.
int64_t CompleteEntriesEnd(TStream& s) {
  const int64_t size = s.Size();
  int64_t pos = 0;
  s.SetPosition(0);
  while (size - pos >= 4) {
    int32_t len = ReadInt32(s);
    if (len < 0 || len > size - pos - 4) break;
    pos += 4 + len;
    s.SetPosition(pos);
  }
  return pos;
}
}  // namespace

TOpenHistory::TOpenHistory() { LoadHistory(FList); }

TOpenHistory::~TOpenHistory() { FList.Clear(); }

HResult TOpenHistory::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_NOINTERFACE_;
  *obj = nullptr;
  if (!(iid == IOpenHistory::IID || iid == IID_IInterface)) return E_NOINTERFACE_;
  *obj = static_cast<IOpenHistory*>(this);
  AddRefImpl();
  return S_OK_;
}

void TOpenHistory::LoadHistory(TStringList& list) {
  const AnsiString fileName = HistoryFileName();
  if (!FileExists(fileName)) return;
  TFileStream f(fileName, fmOpenReadWrite | fmShareDenyNone);
  list.Clear();
  const int64_t end = CompleteEntriesEnd(f);
  f.SetPosition(0);
  while (f.Position() < end) {
    AnsiString path = ReadStreamString(f);
    if (FileExists(path)) list.Insert(0, LowerCaseAscii(path));
  }
}

void TOpenHistory::AddHistory(const AnsiString& path) {
  if (FList.IndexOf(LowerCaseAscii(path)) >= 0) return;
  const AnsiString fileName = HistoryFileName();
  std::unique_ptr<TFileStream> f;
  if (FileExists(fileName)) {
    f = std::make_unique<TFileStream>(fileName, fmOpenReadWrite | fmShareDenyNone);
    // Appending behind a torn entry would bury the new one inside it: cut the tail first.
    int64_t end = CompleteEntriesEnd(*f);
    if (end < f->Size()) f->SetSize(end);
    f->SetPosition(end);
  } else {
    f = std::make_unique<TFileStream>(fileName, fmCreate);
  }
  WriteStreamString(*f, path);
}
