#pragma once
// A private-profile INI file: read whole through a file stream, every write goes back
// to the disk at once. A missing file reads as empty and is created by the first write.
#include "core/IniData.h"
#include "core/StringList.h"
#include "core/Types.h"

class TIniFile {
public:
  explicit TIniFile(const AnsiString& fileName);

  const AnsiString& FileName() const { return FFileName; }
  AnsiString ReadString(const AnsiString& section, const AnsiString& key, const AnsiString& def) const {
    return FData.ReadString(section, key, def);
  }
  void ReadSection(const AnsiString& section, TStringList& keys) const { FData.ReadSection(section, keys); }
  bool ValueExists(const AnsiString& section, const AnsiString& key) const { return FData.ValueExists(section, key); }
  void WriteString(const AnsiString& section, const AnsiString& key, const AnsiString& value);
  void DeleteKey(const AnsiString& section, const AnsiString& key);

private:
  AnsiString FFileName;
  TIniData FData;
  void Flush();
};

// The whole content of a file as bytes.
AnsiString ReadFileText(const AnsiString& fileName);
// Writes bytes to a temporary file beside fileName and renames it over fileName once every
// byte is on the disk; on failure the old file stays as it was and the error is raised
// (EFCreateError naming fileName, or EWriteError).
void ReplaceFileContent(const AnsiString& fileName, const void* data, size_t size);
