#pragma once
// The preview of a setup's wizard on any machine: the project filled into TFrm_Setup as the
// setup fills it, its pages walked in the order Next shows them, each page kept by the preview
// view. Nothing is installed: the progress page is shown in mid-course, with the reports the
// installation makes for the first half of the program files.
#include <vector>

#include "core/Interfaces.h"
#include "core/StringList.h"
#include "core/SysIntfs.h"
#include "wizard/preview/PreviewView.h"

struct TPreviewRun {
  std::vector<TPreviewPage> Pages;  // the pages the project shows, in the order Next shows them
  std::vector<int> Skipped;         // the pages it hides
  TStringList Boxes;                // what the setup would have said in boxes meanwhile (a picture it cannot show)
  bool Silent = false;              // the project installs without the wizard: no page is shown
};

// The page's name in file names and on the command line: "welcome", "licence", "readme",
// "program-folder", "components", "install-folder", "confirm", "progress", "finish".
const char* PreviewPageName(int index);

// setupFile not empty: a built setup, whose project and wizard files the release unpacks into
// the sandbox's temporary folder (project must be a new, empty project); they are removed again
// before this returns. Otherwise project was read from a project file or JSON, and its files
// are read where they are. Raises what the release and the filling raise.
TPreviewRun RunPreview(const TIntfPtr<IProject>& project, const AnsiString& setupFile, const TLayoutScale& scale,
                       const TTextMeasure& measure, TPictureCache& pictures);
