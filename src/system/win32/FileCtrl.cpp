// The shell's folder picker, the common file dialog and folder creation.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/PathText.h"
#include "system/SysKernel.h"

namespace {
BOOL CALLBACK CollectEnabledWindow(HWND wnd, LPARAM list) {
  if (IsWindowVisible(wnd) && IsWindowEnabled(wnd)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
  return TRUE;
}

// Disables the task's windows for a modal shell dialog and enables them again on every path.
struct TTaskWindowsDisabled {
  std::vector<HWND> Windows;
  UINT ErrorMode;
  TTaskWindowsDisabled() {
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&Windows));
    for (HWND w : Windows) EnableWindow(w, FALSE);
    // An empty removable drive must not bring up a system prompt.
    ErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  }
  ~TTaskWindowsDisabled() {
    SetErrorMode(ErrorMode);
    for (HWND w : Windows) EnableWindow(w, TRUE);
  }
};

int CALLBACK SelectionCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageA(wnd, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}
}  // namespace

bool FolderExists(const AnsiString& path) {
  if (path.empty()) return false;
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderAt(const AnsiString& path) {
  return CreateDirectoryA(path.c_str(), nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(path));
}

bool BrowseFolder(const AnsiString& title, const std::u16string& root, AnsiString& folder) {
  if (!FolderExists(folder)) folder.clear();
  if (bool answer; ResponderBrowseFolder(title, folder, answer)) return answer;
  IMalloc* shellMalloc = nullptr;
  if (FAILED(SHGetMalloc(&shellMalloc)) || !shellMalloc) return false;
  char* buffer = static_cast<char*>(shellMalloc->Alloc(MAX_PATH));
  bool result = false;
  if (buffer) {
    buffer[0] = '\0';
    HWND owner = GetActiveWindow();
    LPITEMIDLIST rootList = nullptr;
    if (!root.empty()) {
      IShellFolder* desktop = nullptr;
      if (SUCCEEDED(SHGetDesktopFolder(&desktop)) && desktop) {
        std::wstring w(root.begin(), root.end());
        ULONG eaten = 0;
        desktop->ParseDisplayName(owner, nullptr, &w[0], &eaten, &rootList, nullptr);
        desktop->Release();
      }
    }
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = rootList;
    info.pszDisplayName = buffer;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    if (!folder.empty()) {
      info.lpfn = SelectionCallback;
      info.lParam = reinterpret_cast<LPARAM>(folder.c_str());
    }
    LPITEMIDLIST chosen;
    {
      TTaskWindowsDisabled modal;
      chosen = SHBrowseForFolderA(&info);
    }
    if (chosen) {
      SHGetPathFromIDListA(chosen, buffer);
      shellMalloc->Free(chosen);
      folder = buffer;
      result = true;
    }
    if (rootList) shellMalloc->Free(rootList);
    shellMalloc->Free(buffer);
  }
  shellMalloc->Release();
  return result;
}

bool OpenFilesDialog(const AnsiString& filter, TStringList& files) {
  if (bool answer; ResponderOpenFiles(filter, files, answer)) return answer;
  // "Text|*.txt|All|*.*" becomes the dialog's NUL-separated pairs.
  AnsiString f = filter;
  for (char& c : f)
    if (c == '|') c = '\0';
  f += AnsiString(2, '\0');
  std::vector<char> buf(65536, '\0');
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = filter.empty() ? nullptr : f.c_str();
  ofn.lpstrFile = buf.data();
  ofn.nMaxFile = static_cast<DWORD>(buf.size());
  ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&ofn)) return false;
  TStringList chosen;
  AnsiString first = buf.data();
  const char* p = buf.data() + first.size() + 1;
  if (!*p) {
    chosen.Add(first);  // one file: the full path
  } else {
    for (; *p; p += std::char_traits<char>::length(p) + 1) chosen.Add(AppendPathDelimiter(first) + p);
  }
  files = chosen;
  return true;
}
