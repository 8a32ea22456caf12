#include "core/Sysconsts.h"

namespace {
AnsiString& BaseFolderRef() {
  static AnsiString folder;
  return folder;
}
}  // namespace

const AnsiString& BaseFolder() { return BaseFolderRef(); }
void SetBaseFolder(const AnsiString& folder) { BaseFolderRef() = folder; }

const char* const SDone = "完成";
const char* const SAgree = "我同意";
const char* const SNextCaption = "下一步(&N)->";
const char* const SPrevCaption = "<-上一步(&P)";
const char* const SExitQuestion = "安装向导没有完成\"%s\"安装, \r\n确定要退出该安装向导吗?";
const char* const SProductBusy = "“%s”的另一个安装程序或卸载程序正在运行。\r\n\r\n请等它结束后再运行本程序。";
const char* const SLocalRedirection =
    "程序所在的文件夹中有“%s”。它会让 Windows 从这里加载系统组件，程序的文件已不是发布时的样子。\r\n\r\n"
    "程序没有做任何更改就停止了。请删除它，或者重新下载本程序后再运行。";
