#include "wizard/win32/WinPicture.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
int16_t S16(const uint8_t* p) { return int16_t(U16(p)); }
int32_t S32(const uint8_t* p) { return int32_t(U32(p)); }

// Metafile frames are measured at the layout's density; the window scales them with the rest.
constexpr int kDesignDpi = TLayoutScale::kDesignDpi;

// A memory DC with a bitmap selected, released on every path.
class TMemoryDC {
public:
  TMemoryDC(HDC like, HBITMAP bitmap) : FDC(CreateCompatibleDC(like)) {
    if (FDC) FOld = SelectObject(FDC, bitmap);
  }
  ~TMemoryDC() {
    if (FDC) {
      SelectObject(FDC, FOld);
      DeleteDC(FDC);
    }
  }
  TMemoryDC(const TMemoryDC&) = delete;
  TMemoryDC& operator=(const TMemoryDC&) = delete;
  HDC Handle() const { return FDC; }

private:
  HDC FDC;
  HGDIOBJ FOld = nullptr;
};

// A 32-bit top-down DIB section; its pixels through bits.
HBITMAP CreateBitmap32(int width, int height, uint32_t** bits) {
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* p = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &p, nullptr, 0);
  *bits = static_cast<uint32_t*>(p);
  return b;
}

bool TooLarge(int width, int height) { return uint64_t(width) * uint64_t(height) * 4 > kMaxPictureBytes; }

// A .bmp file: the file header, then a packed DIB. GDI draws the DIB (any depth, RLE,
// bit fields) once into a 32-bit bitmap of our own.
HBITMAP LoadBmp(const TArrayByte& file, const AnsiString& fileName, int& width, int& height) {
  const size_t n = file.size();
  if (n < 14 + 12 || file[0] != 'B' || file[1] != 'M') RaisePictureUnreadable(fileName, "不是位图文件");
  const uint8_t* d = file.data();
  const uint32_t bitsAt = U32(d + 10), headerSize = U32(d + 14);
  if (headerSize < 12 || headerSize > n - 14 || bitsAt < 14 + headerSize || bitsAt >= n)
    RaisePictureUnreadable(fileName, "位图文件头已损坏");
  int w, h, bpp;
  uint32_t compression = BI_RGB;
  if (headerSize == 12) {  // the old core header
    w = U16(d + 18);
    h = U16(d + 20);
    bpp = U16(d + 24);
  } else {
    if (headerSize < 40) RaisePictureUnreadable(fileName, "位图文件头已损坏");
    w = S32(d + 18);
    h = S32(d + 22);
    bpp = U16(d + 28);
    compression = U32(d + 30);
  }
  if (h == INT32_MIN || w <= 0 || h == 0) RaisePictureUnreadable(fileName, "位图尺寸无效");
  const int absH = h < 0 ? -h : h;
  if (TooLarge(w, absH)) RaisePictureUnreadable(fileName, Format("图片过大（%d×%d）", w, absH));
  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
      RaisePictureUnreadable(fileName, "位图颜色位数无效");
    const uint64_t stride = (uint64_t(w) * bpp + 31) / 32 * 4;
    if (stride * absH > n - bitsAt) RaisePictureUnreadable(fileName, "位图数据不完整");
  } else if (compression != BI_RLE8 && compression != BI_RLE4) {
    RaisePictureUnreadable(fileName, "不支持的位图压缩方式");
  }
  // The header and colour table, copied to aligned memory.
  std::vector<uint32_t> info((bitsAt - 14 + 3) / 4 + 1);
  std::memcpy(info.data(), d + 14, bitsAt - 14);
  uint32_t* px = nullptr;
  HBITMAP bitmap = CreateBitmap32(w, absH, &px);
  if (!bitmap) RaisePictureUnreadable(fileName, "内存不足");
  int lines;
  {
    TMemoryDC mem(nullptr, bitmap);
    SetStretchBltMode(mem.Handle(), COLORONCOLOR);
    lines = StretchDIBits(mem.Handle(), 0, 0, w, absH, 0, 0, w, absH, d + bitsAt,
                          reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, SRCCOPY);
  }
  if (lines <= 0) {
    DeleteObject(bitmap);
    RaisePictureUnreadable(fileName, "位图数据无法解码");
  }
  width = w;
  height = absH;
  return bitmap;
}

// Entry i of an icon file's directory, when its image lies inside the file.
bool IcoEntry(const TArrayByte& file, size_t i, int& w, int& h, int& bits, uint32_t& bytes, uint32_t& at) {
  const size_t n = file.size();
  if (n < 6 || i >= U16(file.data() + 4) || 6 + 16 * (i + 1) > n) return false;
  const uint8_t* e = file.data() + 6 + 16 * i;
  w = e[0] ? e[0] : 256;
  h = e[1] ? e[1] : 256;
  bits = U16(e + 6);
  bytes = U32(e + 8);
  at = U32(e + 12);
  return at < n && bytes != 0 && bytes <= n - at;
}

// The image of entry i made into an icon of that size (the system scales it to another).
HICON IcoImage(const TArrayByte& file, size_t i, int width, int height) {
  int w, h, bits;
  uint32_t bytes, at;
  if (!IcoEntry(file, i, w, h, bits, bytes, at)) return nullptr;
  // The image is copied: CreateIconFromResourceEx wants it aligned.
  std::vector<uint32_t> image((bytes + 3) / 4);
  std::memcpy(image.data(), file.data() + at, bytes);
  return CreateIconFromResourceEx(reinterpret_cast<PBYTE>(image.data()), bytes, TRUE, 0x00030000, width, height,
                                  LR_DEFAULTCOLOR);
}

// A .ico file: the first image of its directory, at its own size.
HICON LoadIco(const TArrayByte& file, const AnsiString& fileName, int& width, int& height) {
  const uint8_t* d = file.data();
  if (file.size() < 6 + 16 || U16(d) != 0 || U16(d + 2) != 1 || U16(d + 4) == 0) RaisePictureUnreadable(fileName, "不是图标文件");
  int w, h, bits;
  uint32_t bytes, at;
  if (!IcoEntry(file, 0, w, h, bits, bytes, at)) RaisePictureUnreadable(fileName, "图标数据不完整");
  HICON icon = IcoImage(file, 0, w, h);
  if (!icon) RaisePictureUnreadable(fileName, "图标数据无法解码");
  width = w;
  height = h;
  return icon;
}

HENHMETAFILE LoadEmf(const TArrayByte& file, const AnsiString& fileName, int& width, int& height) {
  const size_t n = file.size();
  const uint8_t* d = file.data();
  if (n < 88 || U32(d) != EMR_HEADER || U32(d + 40) != ENHMETA_SIGNATURE) RaisePictureUnreadable(fileName, "不是增强图元文件");
  HENHMETAFILE emf = SetEnhMetaFileBits(UINT(n), d);
  if (!emf) RaisePictureUnreadable(fileName, "图元文件数据无法解码");
  ENHMETAHEADER header{};
  GetEnhMetaFileHeader(emf, sizeof header, &header);
  // The frame is in hundredths of a millimetre.
  width = MulDiv(header.rclFrame.right - header.rclFrame.left, kDesignDpi, 2540);
  height = MulDiv(header.rclFrame.bottom - header.rclFrame.top, kDesignDpi, 2540);
  if (width <= 0 || height <= 0) {
    DeleteEnhMetaFile(emf);
    RaisePictureUnreadable(fileName, "图元文件尺寸无效");
  }
  return emf;
}

// The window extent a plain metafile sets (its first SetWindowExt record), in its own units.
bool PlainWmfExtent(const uint8_t* d, size_t n, int& width, int& height) {
  constexpr uint16_t kSetWindowExt = 0x020C;
  // The header: type 1 (memory) or 2 (disk), nine words long.
  if (n < 18 || (U16(d) != 1 && U16(d) != 2) || U16(d + 2) != 9) return false;
  for (size_t at = 18; at + 6 <= n;) {
    const uint64_t bytes = uint64_t(U32(d + at)) * 2;
    const uint16_t function = U16(d + at + 4);
    if (bytes < 6 || bytes > n - at || function == 0) return false;
    if (function == kSetWindowExt && bytes >= 10) {
      height = std::abs(S16(d + at + 6));
      width = std::abs(S16(d + at + 8));
      return width > 0 && height > 0;
    }
    at += size_t(bytes);
  }
  return false;
}

// A .wmf file, converted to an enhanced metafile whose frame is the picture's box. With the
// placeable header the box is the header's (in units of 1/inch); a plain metafile's box is
// its window extent, one unit to a pixel at 96 an inch.
HENHMETAFILE LoadWmf(const TArrayByte& file, const AnsiString& fileName, int& width, int& height) {
  constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
  constexpr size_t kPlaceableSize = 22;
  const size_t n = file.size();
  const uint8_t* d = file.data();
  int boxW = 0, boxH = 0, inch = 96;
  size_t skip = 0;
  if (n >= kPlaceableSize + 18 && U32(d) == kPlaceableKey) {
    uint16_t sum = 0;
    for (int i = 0; i < 10; ++i) sum ^= U16(d + 2 * i);
    if (sum != U16(d + 20)) RaisePictureUnreadable(fileName, "图元文件头校验和不符");
    boxW = S16(d + 10) - S16(d + 6);
    boxH = S16(d + 12) - S16(d + 8);
    inch = U16(d + 14);
    skip = kPlaceableSize;
  } else if (!PlainWmfExtent(d, n, boxW, boxH)) {
    RaisePictureUnreadable(fileName, "不是图元文件，或没有图片尺寸");
  }
  if (boxW <= 0 || boxH <= 0 || inch == 0) RaisePictureUnreadable(fileName, "图元文件尺寸无效");
  METAFILEPICT pict{};
  pict.mm = MM_ANISOTROPIC;
  pict.xExt = MulDiv(boxW, 2540, inch);
  pict.yExt = MulDiv(boxH, 2540, inch);
  HENHMETAFILE emf = SetWinMetaFileBits(UINT(n - skip), d + skip, nullptr, &pict);
  if (!emf) RaisePictureUnreadable(fileName, "图元文件数据无法解码");
  width = MulDiv(boxW, kDesignDpi, inch);
  height = MulDiv(boxH, kDesignDpi, inch);
  if (width <= 0 || height <= 0) {
    DeleteEnhMetaFile(emf);
    RaisePictureUnreadable(fileName, "图元文件尺寸无效");
  }
  return emf;
}

HBITMAP LoadJpeg(const TArrayByte& file, const AnsiString& fileName, int& width, int& height) {
  TBitmap32 picture = DecodeJpeg(file.data(), file.size(), fileName);
  uint32_t* px = nullptr;
  HBITMAP bitmap = CreateBitmap32(picture.Width, picture.Height, &px);
  if (!bitmap) RaisePictureUnreadable(fileName, "内存不足");
  // 0x00RRGGBB is B, G, R, 0 in memory: the DIB's own order.
  std::memcpy(px, picture.Pixels.data(), picture.Pixels.size() * sizeof(uint32_t));
  GdiFlush();
  width = picture.Width;
  height = picture.Height;
  return bitmap;
}

}  // namespace

std::unique_ptr<TWinPicture> TWinPicture::Load(const AnsiString& fileName) {
  const TPictureFormat format = PictureFormatOf(fileName);
  const TArrayByte file = ReadPictureFile(fileName);
  std::unique_ptr<TWinPicture> p(new TWinPicture);
  p->FFormat = format;
  switch (format) {
    case TPictureFormat::Bmp:
      p->FBitmap = LoadBmp(file, fileName, p->FWidth, p->FHeight);
      break;
    case TPictureFormat::Jpeg:
      p->FBitmap = LoadJpeg(file, fileName, p->FWidth, p->FHeight);
      break;
    case TPictureFormat::Ico:
      p->FIcon = LoadIco(file, fileName, p->FWidth, p->FHeight);
      if (U16(file.data() + 4) > 1) p->FIconFile = file;
      break;
    case TPictureFormat::Emf:
      p->FMetafile = LoadEmf(file, fileName, p->FWidth, p->FHeight);
      break;
    case TPictureFormat::Wmf:
      p->FMetafile = LoadWmf(file, fileName, p->FWidth, p->FHeight);
      break;
  }
  return p;
}

TWinPicture::~TWinPicture() {
  if (FBitmap) DeleteObject(FBitmap);
  if (FIcon) DestroyIcon(FIcon);
  if (FSizedIcon) DestroyIcon(FSizedIcon);
  if (FMetafile) DeleteEnhMetaFile(FMetafile);
}

// The first image at its own size; for another size the smallest image at least that large
// (the most colours among equals), else the largest, made at that size.
HICON TWinPicture::IconFor(int width, int height) const {
  if ((width == FWidth && height == FHeight) || FIconFile.empty()) return FIcon;
  if (FSizedIcon && FSizedW == width && FSizedH == height) return FSizedIcon;
  size_t best = 0;
  int bestW = 0, bestH = 0, bestBits = 0;
  for (size_t i = 0; i < U16(FIconFile.data() + 4); ++i) {
    int w, h, bits;
    uint32_t bytes, at;
    if (!IcoEntry(FIconFile, i, w, h, bits, bytes, at)) continue;
    const bool fits = w >= width && h >= height, bestFits = bestW >= width && bestH >= height;
    bool better;
    if (bestW == 0) better = true;
    else if (w == bestW && h == bestH) better = bits > bestBits;
    else if (fits != bestFits) better = fits;
    else better = fits ? w * h < bestW * bestH : w * h > bestW * bestH;
    if (better) best = i, bestW = w, bestH = h, bestBits = bits;
  }
  HICON icon = IcoImage(FIconFile, best, width, height);
  if (!icon) return FIcon;
  if (FSizedIcon) DestroyIcon(FSizedIcon);
  FSizedIcon = icon;
  FSizedW = width;
  FSizedH = height;
  return icon;
}

void TWinPicture::Draw(HDC dc, const RECT& box, bool stretch, const TLayoutScale& scale) const {
  const int boxW = box.right - box.left, boxH = box.bottom - box.top;
  if (boxW <= 0 || boxH <= 0) return;
  const int w = stretch ? boxW : scale.Size(FWidth), h = stretch ? boxH : scale.Size(FHeight);
  if (FBitmap) {
    TMemoryDC mem(dc, FBitmap);
    if (!mem.Handle()) return;
    if (!stretch && w == FWidth && h == FHeight) {
      BitBlt(dc, box.left, box.top, w < boxW ? w : boxW, h < boxH ? h : boxH, mem.Handle(), 0, 0, SRCCOPY);
      return;
    }
    // Resized with the halftone filter, not by repeating pixels; kept inside the box.
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, box.left, box.top, box.right, box.bottom);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE asks for it
    StretchBlt(dc, box.left, box.top, w, h, mem.Handle(), 0, 0, FWidth, FHeight, SRCCOPY);
    RestoreDC(dc, saved);
    return;
  }
  // Icons and metafiles draw through the clip, which keeps them inside the box.
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, box.left, box.top, box.right, box.bottom);
  if (FIcon) {
    DrawIconEx(dc, box.left, box.top, IconFor(w, h), w, h, 0, nullptr, DI_NORMAL);
  } else if (FMetafile) {
    const RECT r{box.left, box.top, box.left + w, box.top + h};
    PlayEnhMetaFile(dc, FMetafile, &r);
  }
  RestoreDC(dc, saved);
}
