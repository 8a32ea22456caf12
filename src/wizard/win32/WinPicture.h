#pragma once
// A wizard picture loaded for drawing with GDI: bmp, ico, emf, wmf (placeable or plain)
// and jpg/jpeg (decoded with libjpeg). The file is read whole through the file layer.
#include <windows.h>

#include <memory>

#include "core/Types.h"
#include "wizard/LayoutScale.h"
#include "wizard/Picture.h"

class TWinPicture {
public:
  // Raises EInvalidGraphic "Unknown picture file extension (.%s)" for another extension,
  // EInvalidGraphic naming the file for content that cannot be decoded, and the file layer's
  // EFOpenError for a file that cannot be opened.
  static std::unique_ptr<TWinPicture> Load(const AnsiString& fileName);
  ~TWinPicture();
  TWinPicture(const TWinPicture&) = delete;
  TWinPicture& operator=(const TWinPicture&) = delete;

  TPictureFormat Format() const { return FFormat; }
  // The natural size in pixels at 96 dpi: a bitmap's own, an icon's first image's, a
  // metafile's frame at 96 pixels an inch.
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Not stretched: the natural size times the scale at the box's top-left, clipped to the
  // box; a bitmap enlarged smoothly. Stretched: the picture fills the box. An icon draws the
  // image of its file that fits the drawn size best.
  void Draw(HDC dc, const RECT& box, bool stretch, const TLayoutScale& scale = TLayoutScale()) const;

private:
  TWinPicture() = default;
  HICON IconFor(int width, int height) const;

  TPictureFormat FFormat = TPictureFormat::Bmp;
  int FWidth = 0, FHeight = 0;
  HBITMAP FBitmap = nullptr;  // bmp and jpeg: a 32-bit top-down DIB section
  HICON FIcon = nullptr;      // the first image at its size
  TArrayByte FIconFile;       // kept when it holds other images, made when a size asks for one
  mutable HICON FSizedIcon = nullptr;
  mutable int FSizedW = 0, FSizedH = 0;
  HENHMETAFILE FMetafile = nullptr;  // emf, and wmf converted to an enhanced metafile
};
