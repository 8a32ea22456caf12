// The shell's folder picker and folder creation.
#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/PathText.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

namespace {
using wintext::W;

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
  if (msg == BFFM_INITIALIZED && data) SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}
}  // namespace

bool FolderExists(const AnsiString& path) {
  if (path.empty()) return false;
  DWORD a = GetFileAttributesW(W(path));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderAt(const AnsiString& path) {
  return CreateDirectoryW(W(path), nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(path));
}

bool BrowseFolder(const AnsiString& title, const std::u16string& root, AnsiString& folder) {
  if (!FolderExists(folder)) folder.clear();
  if (bool answer; ResponderBrowseFolder(title, folder, answer)) return answer;
  IMalloc* shellMalloc = nullptr;
  if (FAILED(SHGetMalloc(&shellMalloc)) || !shellMalloc) return false;
  auto* buffer = static_cast<wchar_t*>(shellMalloc->Alloc((MAX_PATH + 1) * sizeof(wchar_t)));
  bool result = false;
  if (buffer) {
    buffer[0] = L'\0';
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
    const W wideTitle(title), start(folder);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = rootList;
    info.pszDisplayName = buffer;
    info.lpszTitle = wideTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    if (!folder.empty()) {
      info.lpfn = SelectionCallback;
      info.lParam = reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(start));
    }
    LPITEMIDLIST chosen;
    {
      TTaskWindowsDisabled modal;
      chosen = SHBrowseForFolderW(&info);
    }
    if (chosen) {
      buffer[0] = L'\0';
      SHGetPathFromIDListW(chosen, buffer);
      shellMalloc->Free(chosen);
      // A folder whose name program text cannot hold, not even in its short form, is named
      // and refused: the caller would otherwise go on with a name that reaches another place.
      if (AnsiString picked; wintext::NarrowPath(buffer, picked)) {
        folder = picked;
        result = true;
      } else {
        ShowErrorBox("所选文件夹“" + wintext::Narrow(buffer) + "”的名称含有简体中文字符集（GBK）无法表示的字符，"
                     "而且它没有短文件名，无法使用。请选择其他文件夹。");
      }
    }
    if (rootList) shellMalloc->Free(rootList);
    shellMalloc->Free(buffer);
  }
  shellMalloc->Release();
  return result;
}
