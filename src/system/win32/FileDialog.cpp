// The common file dialog. A file of its own, so that a program that never shows one can link
// its own definition instead (Setup.exe does).
#include <windows.h>
#include <commdlg.h>

#include <vector>

#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

bool OpenFilesDialog(const AnsiString& filter, TStringList& files) {
  if (bool answer; ResponderOpenFiles(filter, files, answer)) return answer;
  // "Text|*.txt|All|*.*" becomes the dialog's NUL-separated pairs.
  AnsiString f = filter;
  for (char& c : f)
    if (c == '|') c = '\0';
  f += AnsiString(2, '\0');
  const std::wstring wideFilter = wintext::Wide(f);
  std::vector<wchar_t> buf(65536, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = filter.empty() ? nullptr : wideFilter.c_str();
  ofn.lpstrFile = buf.data();
  ofn.nMaxFile = static_cast<DWORD>(buf.size());
  ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&ofn)) return false;
  std::vector<std::wstring> paths;
  const std::wstring first = buf.data();
  const wchar_t* p = buf.data() + first.size() + 1;
  if (!*p) {
    paths.push_back(first);  // one file: the full path
  } else {
    const std::wstring folder = !first.empty() && first.back() == L'\\' ? first : first + L"\\";
    for (; *p; p += std::char_traits<wchar_t>::length(p) + 1) paths.push_back(folder + p);
  }
  TStringList chosen, refused;
  for (const std::wstring& path : paths) {
    if (AnsiString name; wintext::NarrowPath(path, name))
      chosen.Add(name);
    else
      refused.Add(wintext::Narrow(path));
  }
  if (refused.Count() > 0) {
    AnsiString text = "以下文件的名称含有简体中文字符集（GBK）无法表示的字符，而且没有短文件名，没有添加：";
    for (const AnsiString& name : refused) text += "\r\n" + name;
    ShowErrorBox(text);
  }
  files = chosen;
  return true;
}
