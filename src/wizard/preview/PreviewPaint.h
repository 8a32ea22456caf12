#pragma once
// The preview's pages in pixels (cairo, with pango's text in a CJK font standing in for 宋体):
// the window's frame and caption bar, and each row as the Windows control it is, in the look of
// the window under Wine (3-D edges, flat white buttons and boxes, check boxes, scroll bars).
#include <memory>
#include <string>

#include "wizard/preview/PreviewView.h"

class TPagePainter {
public:
  explicit TPagePainter(const TLayoutScale& scale);
  ~TPagePainter();
  TPagePainter(const TPagePainter&) = delete;
  TPagePainter& operator=(const TPagePainter&) = delete;

  // The icon at the left of the caption bar (LoadWindowIcon at WindowIconSize); none by default.
  void SetWindowIcon(std::shared_ptr<const TPreviewPicture> icon);
  int WindowIconSize() const;
  // The measure the view places labels by: the fonts the painter draws with.
  TTextMeasure Measure() const;
  // The whole window's size in pixels, frame and caption bar included.
  int WindowWidth(const TPreviewPage& page) const;
  int WindowHeight(const TPreviewPage& page) const;
  // Draws the page into 32-bit pixels (ARGB, WindowWidth × WindowHeight, row after row).
  std::vector<uint32_t> Paint(const TPreviewPage& page) const;
  // Draws the page and writes it as a PNG file. Raises EFCreateError naming the file when it
  // cannot be written.
  void WritePng(const TPreviewPage& page, const AnsiString& fileName) const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};
