#pragma once
// Test and command-line hook for the modal dialogs. When a responder is installed it
// answers every message box, folder picker and file dialog instead of the real ones.
// Without one, Windows shows the real dialogs; the sandbox asks on the terminal when one
// is attached and otherwise refuses (No / cancel).
#include <functional>
#include <memory>

#include "core/StringList.h"
#include "core/Types.h"

enum class TBoxStyle { Error, Warning, Question };

struct TDialogResponder {
  // Returns true for Yes (questions) / OK.
  std::function<bool(TBoxStyle style, const AnsiString& caption, const AnsiString& text)> MessageBox;
  std::function<bool(const AnsiString& title, AnsiString& folder)> BrowseFolder;
  std::function<bool(const AnsiString& filter, TStringList& files)> OpenFiles;
};

void SetDialogResponder(std::shared_ptr<TDialogResponder> responder);
std::shared_ptr<TDialogResponder> DialogResponder();
