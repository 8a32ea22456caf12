// Shortcut files through the shell link object (IShellLinkW) saved with IPersistFile.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Platform.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

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
  using wintext::W;
  TComRef<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link.P))))
    throw Exception("Cannot create the shell link object");
  link.P->SetShowCmd(SW_SHOWNORMAL);
  link.P->SetArguments(W(arguments));
  link.P->SetDescription(W(description));
  link.P->SetPath(W(target));
  link.P->SetWorkingDirectory(W(ExtractFilePath(target)));
  TComRef<IPersistFile> file;
  if (FAILED(link.P->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.P))))
    throw Exception("Cannot create the shell link object");
  if (FAILED(file.P->Save(W(linkPath), FALSE))) RaiseFCreateError(linkPath, SystemErrorMessage(LastSystemError()));
}
