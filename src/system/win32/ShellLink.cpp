// Shortcut files through the shell link object (IShellLinkA) saved with IPersistFile.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {
template <class T>
struct TComRef {
  T* P = nullptr;
  ~TComRef() {
    if (P) P->Release();
  }
};

struct TComInit {
  HRESULT Result;
  TComInit() : Result(CoInitialize(nullptr)) {}
  ~TComInit() {
    if (SUCCEEDED(Result)) CoUninitialize();
  }
};
}  // namespace

void CreateShellLink(const AnsiString& linkPath, const AnsiString& target, const AnsiString& arguments,
                     const AnsiString& description) {
  TComInit com;
  TComRef<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link.P))))
    throw Exception("Cannot create the shell link object");
  link.P->SetShowCmd(SW_SHOWNORMAL);
  link.P->SetArguments(arguments.c_str());
  link.P->SetDescription(description.c_str());
  link.P->SetPath(target.c_str());
  link.P->SetWorkingDirectory(ExtractFilePath(target).c_str());
  TComRef<IPersistFile> file;
  if (FAILED(link.P->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.P))))
    throw Exception("Cannot create the shell link object");
  std::u16string u = GbkToUtf16(linkPath);
  std::wstring w(u.begin(), u.end());
  if (FAILED(file.P->Save(w.c_str(), FALSE))) RaiseFCreateError(linkPath, SystemErrorMessage(LastSystemError()));
}
