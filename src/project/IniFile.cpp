#include "project/IniFile.h"

#include <memory>

#include "core/Exceptions.h"
#include "system/Platform.h"

#include "system/FileStream.h"
#include "system/SysKernel.h"

AnsiString ReadFileText(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  AnsiString text;
  char buf[16384];
  for (;;) {
    size_t n = f.Read(buf, sizeof buf);
    if (n == 0) break;
    text.append(buf, n);
  }
  return text;
}

void ReplaceFileContent(const AnsiString& fileName, const void* data, size_t size) {
  const AnsiString tempName = fileName + ".~sv";
  try {
    std::unique_ptr<TFileStream> f;
    try {
      f = std::make_unique<TFileStream>(tempName, fmCreate);
    } catch (const EFCreateError& e) {
      // Name the file the caller asked for; keep the system's reason.
      const AnsiString& m = e.Message();
      size_t p = m.find("\". ");
      RaiseFCreateError(fileName, p == AnsiString::npos ? AnsiString() : m.substr(p + 3));
    }
    f->WriteBuffer(data, size);
    f->Flush();
    f.reset();
    if (!RenameFileTo(tempName, fileName)) RaiseFCreateError(fileName, SystemErrorMessage(LastSystemError()));
  } catch (...) {
    DeleteFileAt(tempName);
    throw;
  }
}

TIniFile::TIniFile(const AnsiString& fileName) : FFileName(fileName) {
  if (FileExists(fileName)) FData.SetText(ReadFileText(fileName));
}

void TIniFile::WriteString(const AnsiString& section, const AnsiString& key, const AnsiString& value) {
  FData.WriteString(section, key, value);
  Flush();
}

void TIniFile::DeleteKey(const AnsiString& section, const AnsiString& key) {
  AnsiString before = FData.Text();
  FData.DeleteKey(section, key);
  if (FData.Text() != before) Flush();
}

void TIniFile::Flush() {
  AnsiString text = FData.Text();
  ReplaceFileContent(FFileName, text.data(), text.size());
}
