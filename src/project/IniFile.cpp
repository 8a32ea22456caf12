#include "project/IniFile.h"

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
  TFileStream f(FFileName, fmCreate);
  f.WriteBuffer(text.data(), text.size());
}
