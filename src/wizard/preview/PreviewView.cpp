#include "wizard/preview/PreviewView.h"

#include <cstring>

namespace {
using K = TLayoutKind;

// Pictures lie under everything; frames and group boxes under what they hold.
int DrawLayer(TLayoutKind kind) {
  if (kind == K::Picture) return 0;
  if (kind == K::Frame || kind == K::GroupBox) return 1;
  return 2;
}
}  // namespace

const TPreviewRow* TPreviewPage::Find(const char* name) const {
  for (const TPreviewRow& r : Rows)
    if (std::strcmp(r.Item->Name, name) == 0) return &r;
  return nullptr;
}

TPreviewView::TPreviewView(TFrm_Setup& form, const TLayoutScale& scale, TTextMeasure measure, TPictureCache& pictures)
    : FForm(form), FScale(scale), FMeasure(std::move(measure)), FPictures(pictures) {
  FForm.SetView(this);
}

TPreviewView::~TPreviewView() { FForm.SetView(nullptr); }

void TPreviewView::ControlChanged(const TControl& c) {
  const TLayoutItem* item = FindLayoutItem(c.Name);
  if (!item || item->Kind != K::Picture) return;
  FShown.erase(&c);
  if (!c.Caption.empty()) FShown[&c] = FPictures.Get(c.Caption);
}

void TPreviewView::LineAdded(const TControl& memo, const AnsiString& line) { FLines[&memo].push_back(line); }

TPreviewRow TPreviewView::MakeRow(const TLayoutItem& item) const {
  TPreviewRow row;
  row.Item = &item;
  const TControl* c = FForm.FindControl(item.Name);
  row.Text = c ? c->Caption : AnsiString(item.Caption);
  row.Visible = c ? c->Visible : (item.Flags & lfHidden) == 0;
  if (c) {
    row.Enabled = c->Enabled;
    row.ReadOnly = c->ReadOnly;
    row.Max = c->Max;
    row.Position = c->Position;
  }
  row.Box = CaptionBox(item, FScale, row.Text, FMeasure);
  switch (item.Kind) {
    case K::Picture:
      if (c) {
        auto it = FShown.find(c);
        if (it != FShown.end()) row.Picture = it->second;
      }
      row.Text.clear();
      break;
    case K::List:
      if (std::strcmp(item.Name, "List_SelectShot") == 0)
        row.Rows.assign(FForm.List_SelectShot.begin(), FForm.List_SelectShot.end());
      break;
    case K::CheckList:
    case K::ReportList:
      if (std::vector<TCheckRow>* rows = FForm.FindRows(item.Name)) {
        for (const TCheckRow& r : *rows) {
          row.Rows.push_back(r.Text);
          row.Checked.push_back(r.Checked);
        }
      }
      break;
    case K::DetailList:
      if (c) {
        auto it = FLines.find(c);
        if (it != FLines.end()) row.Rows = it->second;
      }
      row.Text.clear();
      break;
    default:
      break;
  }
  return row;
}

TPreviewPage TPreviewView::Snapshot(int index) const {
  TPreviewPage page;
  page.Index = index;
  page.Caption = FForm.Form.Caption;
  page.Width = FScale.Size(kWizardClientWidth);
  page.Height = FScale.Size(kWizardClientHeight);
  for (int layer = 0; layer < 3; ++layer) {
    for (size_t i = 0; i < kLayoutCount; ++i) {
      const TLayoutItem& item = kLayout[i];
      if (item.Kind == K::Page && item.Page == index) page.White = (item.Flags & lfWhite) != 0;
      if (item.Kind == K::Window || item.Kind == K::Page) continue;
      if (item.Page != index && item.Page != -1) continue;
      if (DrawLayer(item.Kind) != layer) continue;
      page.Rows.push_back(MakeRow(item));
    }
  }
  return page;
}
