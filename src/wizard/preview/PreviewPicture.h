#pragma once
// The wizard's pictures decoded for the preview, the same kinds the setup shows: JPEG through
// the setup's own decoder (Picture.h), bmp, ico and wmf through gdk-pixbuf. An emf, which no
// library here draws, is kept as a picture without pixels: the page shows a marked frame.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/StringList.h"
#include "core/Types.h"
#include "wizard/Picture.h"

struct TPreviewPicture {
  AnsiString FileName;
  TPictureFormat Format = TPictureFormat::Bmp;
  int Width = 0, Height = 0;     // the natural size at 96 dpi
  std::vector<uint32_t> Pixels;  // premultiplied ARGB, top-down; empty when nothing here draws it
  bool Drawable() const { return !Pixels.empty(); }
};

// Raises what the setup's window raises for the same file: EInvalidGraphic for an unknown
// extension or content that cannot be decoded (naming the file), EFOpenError for a file that
// cannot be opened.
std::shared_ptr<const TPreviewPicture> LoadPreviewPicture(const AnsiString& fileName);

// The image a window's caption bar shows for this icon: file is an executable (its "MAINICON"
// group, as the window class takes it) or an icon file; of its images the one of `size` pixels,
// else the smallest larger one, else the largest, the deepest colours among equals. Null when
// the file has no icon or it cannot be decoded: the bar then shows none.
std::shared_ptr<const TPreviewPicture> LoadWindowIcon(const AnsiString& file, int size);

// Each file decoded once, however many pages show it.
class TPictureCache {
public:
  std::shared_ptr<const TPreviewPicture> Get(const AnsiString& fileName);
  // The files kept as marked frames, each named once, in the order they were first asked for.
  const TStringList& Undrawn() const { return FUndrawn; }

private:
  std::map<AnsiString, std::shared_ptr<const TPreviewPicture>> FLoaded;
  TStringList FUndrawn;
};
