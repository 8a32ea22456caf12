#include "wizard/SetupSwitches.h"

#include "core/StringList.h"
#include "core/TextUtils.h"

namespace {
// Takes "/NAME" or "/NAME=value" apart; true when text is a switch.
bool SplitSwitch(const AnsiString& text, AnsiString& name, std::optional<AnsiString>& value) {
  if (text.size() < 2 || text[0] != '/') return false;
  const size_t eq = text.find('=');
  name = UpperCaseAscii(text.substr(1, eq == AnsiString::npos ? AnsiString::npos : eq - 1));
  if (eq == AnsiString::npos) value.reset();
  else value = text.substr(eq + 1);
  return true;
}

// A path typed for /DIR: no quotes, no control characters; the folder page checks the rest.
bool PlainValue(const AnsiString& v) {
  for (unsigned char c : v)
    if (c < 32 || c == '"') return false;
  return true;
}
}  // namespace

TSetupSwitches ParseSetupSwitches(const std::vector<TCommandArgument>& args) {
  TSetupSwitches s;
  bool verySilent = false, silent = false;
  auto bad = [&](const AnsiString& text) {
    if (s.Bad.empty()) s.Bad = text;
  };
  AnsiString passOn, dirLast;
  auto pass = [&](const AnsiString& text) { passOn += (passOn.empty() ? "" : " ") + QuoteArgument(text); };
  for (const TCommandArgument& a : args) {
    AnsiString name;
    std::optional<AnsiString> value;
    if (!SplitSwitch(a.Text, name, value)) {
      s.OtherParameters = true;
      continue;
    }
    if (name == "D" && value) {
      // Last on the line and never quoted, so it may hold blanks: the rest of the line.
      const AnsiString dir = Trim(a.Rest.size() > 3 && a.Rest[0] == '/' ? a.Rest.substr(3) : *value);
      if (dir.empty() || !PlainValue(dir)) bad(a.Text);
      s.Dir = dir;
      dirLast = "/D=" + dir;
      break;
    }
    const bool flag = !value.has_value();
    if ((name == "VERYSILENT" || name == "S") && flag) {
      verySilent = true;
    } else if (name == "SILENT" && flag) {
      silent = true;
    } else if (name == "NORESTART" && flag) {
      s.NoRestart = true;
    } else if (name == "SUPPRESSMSGBOXES" && flag) {
      s.SuppressMsgBoxes = true;
    } else if ((name == "?" || name == "HELP") && flag) {
      s.Help = true;
    } else if (name == "DIR" && value) {
      const AnsiString dir = Trim(*value);
      if (dir.empty() || !PlainValue(dir)) bad(a.Text);
      s.Dir = dir;
    } else if (name == "COMPONENTS" && value) {
      s.Components = *value;
    } else if (name == "LOG") {
      s.Log = true;
      s.LogFile = value ? Trim(*value) : AnsiString();
      if (!PlainValue(s.LogFile)) bad(a.Text);
    } else {
      bad(a.Text);
      continue;
    }
    if (name != "?" && name != "HELP") pass(a.Text);
  }
  s.Mode = verySilent ? TSetupSwitches::TMode::VerySilent
           : silent   ? TSetupSwitches::TMode::Silent
                      : TSetupSwitches::TMode::Interactive;
  s.PassOn = passOn;
  if (!dirLast.empty()) s.PassOn += (passOn.empty() ? "" : " ") + dirLast;
  return s;
}

TSetupSwitches ParseSetupSwitches(const std::vector<AnsiString>& args) {
  std::vector<TCommandArgument> split;
  for (size_t i = 0; i < args.size(); ++i) {
    AnsiString rest;
    for (size_t j = i; j < args.size(); ++j) rest += (j > i ? " " : "") + args[j];
    split.push_back({args[i], rest});
  }
  return ParseSetupSwitches(split);
}

bool MatchComponents(const std::vector<AnsiString>& offered, const AnsiString& list, std::vector<bool>& chosen,
                     AnsiString& unknown) {
  TStringList names;
  names.SetCommaText(list);
  chosen.assign(offered.size(), false);
  for (const AnsiString& name : names) {
    const AnsiString wanted = Trim(name);
    if (wanted.empty()) continue;
    bool found = false;
    for (size_t i = 0; i < offered.size(); ++i)
      if (SameText(offered[i], wanted)) chosen[i] = found = true;
    if (!found) {
      unknown = wanted;
      return false;
    }
  }
  return true;
}

AnsiString SetupSwitchesHelp() {
  return "安装程序可以在命令行中使用以下开关：\r\n\r\n"
         "/VERYSILENT 或 /S\t不显示任何窗口和消息框，按默认选择安装\r\n"
         "/SILENT\t\t不提问，只显示进度\r\n"
         "/DIR=\"文件夹\"\t安装文件夹\r\n"
         "/D=文件夹\t\t安装文件夹（放在最后，不加引号）\r\n"
         "/COMPONENTS=\"a,b\"\t要安装的运行组件\r\n"
         "/LOG[=\"文件\"]\t把安装过程写入 UTF-8 文本日志\r\n"
         "/NORESTART\t不重启计算机\r\n"
         "/SUPPRESSMSGBOXES\t消息框取默认回答\r\n"
         "/? 或 /HELP\t显示本说明\r\n\r\n"
         "退出代码：\r\n"
         "0\t安装完成\r\n"
         "1\t没有获得管理员权限，或安装前已停止\r\n"
         "87\t开关或开关的值无效\r\n"
         "1602\t用户取消了安装\r\n"
         "1603\t安装失败，已撤销\r\n"
         "1618\t本产品的另一个安装程序正在运行\r\n"
         "1641\t安装完成，已开始重启计算机\r\n"
         "3010\t安装完成，需要重启计算机";
}
