#include "system/Dialogs.h"

#include "system/SysKernel.h"

namespace {
std::shared_ptr<TDialogResponder>& ResponderRef() {
  static std::shared_ptr<TDialogResponder> responder;
  return responder;
}
}  // namespace

void SetDialogResponder(std::shared_ptr<TDialogResponder> responder) { ResponderRef() = std::move(responder); }
std::shared_ptr<TDialogResponder> DialogResponder() { return ResponderRef(); }

bool ResponderMessageBox(TBoxStyle style, const AnsiString& text, bool& answer) {
  auto r = DialogResponder();
  if (!r || !r->MessageBox) return false;
  answer = r->MessageBox(style, ApplicationTitle(), text);
  return true;
}

bool ResponderBrowseFolder(const AnsiString& title, AnsiString& folder, bool& answer) {
  auto r = DialogResponder();
  if (!r || !r->BrowseFolder) return false;
  AnsiString chosen = folder;
  answer = r->BrowseFolder(title, chosen);
  if (answer) folder = chosen;
  return true;
}

bool ResponderOpenFiles(const AnsiString& filter, TStringList& files, bool& answer) {
  auto r = DialogResponder();
  if (!r || !r->OpenFiles) return false;
  TStringList chosen;
  answer = r->OpenFiles(filter, chosen) && !chosen.Empty();
  if (answer) files = chosen;
  return true;
}
