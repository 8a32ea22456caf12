#pragma once
// The wizard's second view: a picture of each page instead of windows. It walks the same layout
// rows as the Win32 window, places them by the same geometry rules and reads the same TFrm_Setup
// state. What a page would show is kept as rows (box, text, state), which the painter turns into
// pixels and the tests read.
#include <map>
#include <memory>
#include <vector>

#include "wizard/LayoutGeometry.h"
#include "wizard/SetupForm.h"
#include "wizard/preview/PreviewPicture.h"

struct TPreviewRow {
  const TLayoutItem* Item = nullptr;
  TScaledRect Box{};  // in the window's client area; every page lies at its top-left
  AnsiString Text;    // a label's or button's caption (with its & marks), an edit's or memo's text
  bool Visible = true, Enabled = true, ReadOnly = false;
  std::vector<AnsiString> Rows;  // the rows of a list, the lines of the details
  std::vector<bool> Checked;     // one per row of a list with check boxes
  int32_t Max = 0, Position = 0;  // a progress bar
  std::shared_ptr<const TPreviewPicture> Picture;  // a picture row's picture; null for none
};

struct TPreviewPage {
  int Index = 0;
  AnsiString Caption;         // the window's caption
  int Width = 0, Height = 0;  // the window's client area
  bool White = false;         // the page lies on a white panel
  // The page's rows and those below the notebook, in drawing order: pictures, then frames and
  // group boxes, then the others in table order.
  std::vector<TPreviewRow> Rows;
  // The row of that name; null when the page has none.
  const TPreviewRow* Find(const char* name) const;
};

class TPreviewView : public ISetupView {
public:
  // Attaches itself to form; detaches when it goes.
  TPreviewView(TFrm_Setup& form, const TLayoutScale& scale, TTextMeasure measure, TPictureCache& pictures);
  ~TPreviewView() override;
  TPreviewView(const TPreviewView&) = delete;
  TPreviewView& operator=(const TPreviewView&) = delete;

  const TLayoutScale& Scale() const { return FScale; }
  // Page index as the window would show it now.
  TPreviewPage Snapshot(int index) const;

  // ISetupView. A picture is loaded when the logic names it, so one that cannot be shown
  // raises into the logic, which names it in a box as it does for the window.
  void ControlChanged(const TControl& control) override;
  void PageChanged(int) override {}
  void LineAdded(const TControl& memo, const AnsiString& line) override;
  void RowsChanged(const char*) override {}
  void ShowReleaseDialog(TFrm_ReleasePlan&) override {}
  void DestroyWindow() override {}
  bool HasInteractivePages() const override { return true; }

private:
  TPreviewRow MakeRow(const TLayoutItem& item) const;

  TFrm_Setup& FForm;
  TLayoutScale FScale;
  TTextMeasure FMeasure;
  TPictureCache& FPictures;
  std::map<const TControl*, std::shared_ptr<const TPreviewPicture>> FShown;
  std::map<const TControl*, std::vector<AnsiString>> FLines;  // the details live in the view only
};
