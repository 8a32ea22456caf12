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
