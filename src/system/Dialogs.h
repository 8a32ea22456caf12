#pragma once
// Test and command-line hook for the modal dialogs. When a responder is installed it
// answers every message box, folder picker and file dialog instead of the real ones.
// Without one, Windows shows the real dialogs; the sandbox asks on the terminal when one
// is attached and otherwise refuses (No / cancel).
#include <functional>
#include <memory>

#include "core/StringList.h"
#include "core/Types.h"

enum class TBoxStyle { Error, Warning, Question, Info };

struct TDialogResponder {
  // Returns true for Yes (questions) / OK.
  std::function<bool(TBoxStyle style, const AnsiString& caption, const AnsiString& text)> MessageBox;
  std::function<bool(const AnsiString& title, AnsiString& folder)> BrowseFolder;
  std::function<bool(const AnsiString& filter, TStringList& files)> OpenFiles;
};

void SetDialogResponder(std::shared_ptr<TDialogResponder> responder);
std::shared_ptr<TDialogResponder> DialogResponder();

// True when a responder is installed for this kind of dialog, with its answer in `answer`;
// folder and files change only when it answers yes. False: the caller shows the real dialog.
bool ResponderMessageBox(TBoxStyle style, const AnsiString& text, bool& answer);
bool ResponderBrowseFolder(const AnsiString& title, AnsiString& folder, bool& answer);
bool ResponderOpenFiles(const AnsiString& filter, TStringList& files, bool& answer);
