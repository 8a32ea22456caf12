// The pictures drawn with GDI (Windows build only, run under Wine): every kind is drawn into
// a 32-bit memory bitmap filled with magenta, and pixels are read back at known points.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>

#include "system/FileCtrl.h"
#include "system/SysKernel.h"
#include "unit/wizard/PictureFixtures.h"
#include "wizard/win32/WinPicture.h"

namespace {

constexpr uint32_t kMagenta = 0xFF00FF, kRed = 0xFF0000, kLime = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

class TCanvas {
public:
  TCanvas(int width, int height) : FWidth(width) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    FBits = static_cast<uint32_t*>(bits);
    FDC = CreateCompatibleDC(nullptr);
    FOld = SelectObject(FDC, FBitmap);
    for (int i = 0; i < width * height; ++i) FBits[i] = kMagenta;
  }
  ~TCanvas() {
    SelectObject(FDC, FOld);
    DeleteDC(FDC);
    DeleteObject(FBitmap);
  }
  HDC DC() const { return FDC; }
  uint32_t At(int x, int y) const {
    GdiFlush();
    return FBits[y * FWidth + x] & 0xFFFFFF;
  }

private:
  int FWidth;
  HBITMAP FBitmap;
  uint32_t* FBits;
  HDC FDC;
  HGDIOBJ FOld;
};

void ExpectAt(const TCanvas& c, int x, int y, uint32_t rgb, const char* what) {
  const uint32_t p = c.At(x, y);
  EXPECT_TRUE(picture_test::Near(p, rgb, 16)) << what << " at " << x << "," << y << ": " << std::hex << p << " for " << rgb;
}

// The four quadrants of "quads" seen in the box l, t, w × h.
void ExpectQuads(const TCanvas& c, int l, int t, int w, int h, const char* what) {
  ExpectAt(c, l + w / 4, t + h / 4, kRed, what);
  ExpectAt(c, l + 3 * w / 4, t + h / 4, kLime, what);
  ExpectAt(c, l + w / 4, t + 3 * h / 4, kBlue, what);
  ExpectAt(c, l + 3 * w / 4, t + 3 * h / 4, kWhite, what);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// Left half red, right half blue, on a metafile DC whose logical picture is 40 × 20.
void DrawHalves(HDC dc) {
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  HGDIOBJ oldBrush = SelectObject(dc, red);
  Rectangle(dc, 0, 0, 21, 21);  // a null pen leaves out the right and bottom edges
  SelectObject(dc, blue);
  Rectangle(dc, 20, 0, 41, 21);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(red);
  DeleteObject(blue);
}

AnsiString MakeEmf(const AnsiString& path) {
  HDC screen = GetDC(nullptr);
  // The frame in hundredths of a millimetre, by the reference device's own pixel size.
  const RECT frame{0, 0, MulDiv(40 * 100, GetDeviceCaps(screen, HORZSIZE), GetDeviceCaps(screen, HORZRES)),
                   MulDiv(20 * 100, GetDeviceCaps(screen, VERTSIZE), GetDeviceCaps(screen, VERTRES))};
  ReleaseDC(nullptr, screen);
  HDC dc = CreateEnhMetaFileA(nullptr, path.c_str(), &frame, nullptr);
  EXPECT_NE(dc, nullptr);
  DrawHalves(dc);
  DeleteEnhMetaFile(CloseEnhMetaFile(dc));
  return path;
}

// A placeable wmf: the header (key, box 0,0-40,20 at 96 units an inch, checksum), then the
// metafile that CreateMetaFileA wrote.
AnsiString MakeWmf(const AnsiString& path, bool placeable, bool goodChecksum = true, bool withExtent = true) {
  const AnsiString plain = path + ".plain";
  HDC dc = CreateMetaFileA(plain.c_str());
  EXPECT_NE(dc, nullptr);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  if (withExtent) SetWindowExtEx(dc, 40, 20, nullptr);
  DrawHalves(dc);
  DeleteMetaFile(CloseMetaFile(dc));
  TArrayByte body = picture_test::ReadAll(plain);
  DeleteFileA(plain.c_str());
  TArrayByte file;
  if (placeable) {
    const uint16_t words[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0};
    uint16_t sum = 0;
    for (uint16_t w : words) sum ^= w;
    if (!goodChecksum) sum ^= 1;
    for (uint16_t w : words) file.push_back(uint8_t(w)), file.push_back(uint8_t(w >> 8));
    file.push_back(uint8_t(sum)), file.push_back(uint8_t(sum >> 8));
  }
  file.insert(file.end(), body.begin(), body.end());
  picture_test::WriteAll(path, file);
  return path;
}

}  // namespace

TEST(WinPicture, BitmapsAndJpegDrawAtTheirSizeClippedToTheBoxOrStretchedToFillIt) {
  for (const char* name : {"quads24.bmp", "quads8.bmp", "quads.jpg"}) {
    SCOPED_TRACE(name);
    auto p = TWinPicture::Load(picture_test::Fixture(name));
    ASSERT_EQ(p->Width(), 32);
    ASSERT_EQ(p->Height(), 32);
    TCanvas c(160, 100);
    p->Draw(c.DC(), RECT{40, 40, 100, 100}, false);  // a box larger than the picture
    ExpectQuads(c, 40, 40, 32, 32, "natural size");
    ExpectAt(c, 80, 48, kMagenta, "right of the picture");
    ExpectAt(c, 48, 80, kMagenta, "below the picture");
    p->Draw(c.DC(), RECT{5, 5, 21, 21}, false);  // a box smaller than the picture
    ExpectAt(c, 6, 6, kRed, "clipped");
    ExpectAt(c, 17, 17, kRed, "clipped");  // away from the JPEG's blurred quadrant edge
    ExpectAt(c, 22, 10, kMagenta, "clipped away");
    ExpectAt(c, 10, 22, kMagenta, "clipped away");
    ExpectAt(c, 4, 4, kMagenta, "before the box");
    p->Draw(c.DC(), RECT{100, 4, 160, 34}, true);  // 60 × 30: wider and lower than the picture
    ExpectQuads(c, 100, 4, 60, 30, "stretched");
    ExpectAt(c, 130, 36, kMagenta, "below the stretched box");
  }
}

TEST(WinPicture, IconDrawsAtItsOwnSizeOrStretched) {
  auto p = TWinPicture::Load(picture_test::Fixture("flag.ico"));
  ASSERT_EQ(p->Width(), 16);
  ASSERT_EQ(p->Height(), 16);
  TCanvas c(100, 100);
  p->Draw(c.DC(), RECT{10, 10, 60, 60}, false);
  ExpectAt(c, 15, 12, kRed, "top half");
  ExpectAt(c, 15, 22, kBlue, "bottom half");
  ExpectAt(c, 30, 15, kMagenta, "right of the icon");
  p->Draw(c.DC(), RECT{70, 10, 80, 14}, false);
  ExpectAt(c, 75, 12, kRed, "clipped");
  ExpectAt(c, 75, 16, kMagenta, "clipped away");
  ExpectAt(c, 82, 12, kMagenta, "clipped away");
  p->Draw(c.DC(), RECT{0, 36, 64, 100}, true);
  ExpectAt(c, 32, 52, kRed, "stretched top half");
  ExpectAt(c, 32, 84, kBlue, "stretched bottom half");
  ExpectAt(c, 60, 99, kBlue, "stretched to the box's corner");
}

TEST(WinPicture, EnhancedAndPlaceableMetafilesDrawTheirFrame) {
  ForceFolders(TempFolder());
  const AnsiString emf = MakeEmf(TempFolder() + "图片测试.emf");
  const AnsiString wmf = MakeWmf(TempFolder() + "图片测试.wmf", true);
  // Without the placeable header: its window extent, a unit to a pixel at 96 an inch.
  const AnsiString plain = MakeWmf(TempFolder() + "plain.wmf", false);
  const int dpi = ScreenDpi();
  for (const AnsiString& name : {emf, wmf, plain}) {
    SCOPED_TRACE(name);
    auto p = TWinPicture::Load(name);
    if (name != emf) {
      EXPECT_EQ(p->Width(), MulDiv(40, dpi, 96));  // the box's 40 units at 96 an inch
      EXPECT_EQ(p->Height(), MulDiv(20, dpi, 96));
    } else {
      EXPECT_NEAR(p->Width(), 40, 1);
      EXPECT_NEAR(p->Height(), 20, 1);
    }
    const int w = p->Width(), h = p->Height();
    TCanvas c(200, 100);
    p->Draw(c.DC(), RECT{10, 10, 110, 90}, false);
    ExpectAt(c, 10 + w / 4, 10 + h / 2, kRed, "natural size, left half");
    ExpectAt(c, 10 + 3 * w / 4, 10 + h / 2, kBlue, "natural size, right half");
    ExpectAt(c, 10 + w + 5, 10 + h / 2, kMagenta, "right of the picture");
    ExpectAt(c, 10 + w / 4, 10 + h + 5, kMagenta, "below the picture");
    p->Draw(c.DC(), RECT{10, 60, 10 + w / 4, 90}, false);
    ExpectAt(c, 10 + w / 8, 60 + h / 2, kRed, "clipped");
    ExpectAt(c, 10 + w / 4 + 3, 60 + h / 2, kMagenta, "clipped away");
    p->Draw(c.DC(), RECT{120, 0, 200, 100}, true);
    ExpectAt(c, 140, 50, kRed, "stretched left half");
    ExpectAt(c, 180, 50, kBlue, "stretched right half");
    ExpectAt(c, 180, 95, kBlue, "stretched to the box's bottom");
  }
}

TEST(WinPicture, UnknownDamagedOrAbsentFilesRaise) {
  ForceFolders(TempFolder());
  const AnsiString dir = TempFolder();
  auto message = [](const AnsiString& path) {
    try {
      TWinPicture::Load(path);
    } catch (const EInvalidGraphic& e) {
      return e.Message();
    }
    return AnsiString();
  };
  auto expectNamed = [&](const AnsiString& path) {
    const AnsiString m = message(path);
    EXPECT_EQ(m.rfind("图片文件“" + path + "”无法读取：", 0), 0u) << path << ": " << m;
  };
  EXPECT_EQ(message(dir + "head.png"), "Unknown picture file extension (.png)");  // before any file is read

  const char text[] = "This is no picture at all, only some text that is long enough to fill headers.";
  for (const char* ext : {"bmp", "ico", "emf", "wmf", "jpg"}) {
    const AnsiString path = dir + "text." + ext;
    picture_test::WriteAll(path, TArrayByte(text, text + sizeof text));
    expectNamed(path);
  }
  TArrayByte bmp = picture_test::ReadAll(picture_test::Fixture("quads24.bmp"));
  picture_test::WriteAll(dir + "cut.bmp", TArrayByte(bmp.begin(), bmp.begin() + bmp.size() / 2));
  expectNamed(dir + "cut.bmp");
  TArrayByte ico = picture_test::ReadAll(picture_test::Fixture("flag.ico"));
  picture_test::WriteAll(dir + "cut.ico", TArrayByte(ico.begin(), ico.begin() + 30));
  expectNamed(dir + "cut.ico");
  TArrayByte jpg = picture_test::ReadAll(picture_test::Fixture("quads.jpg"));
  picture_test::WriteAll(dir + "cut.jpeg", TArrayByte(jpg.begin(), jpg.begin() + jpg.size() / 2));
  expectNamed(dir + "cut.jpeg");
  expectNamed(MakeWmf(dir + "checksum.wmf", true, false));
  expectNamed(MakeWmf(dir + "no-extent.wmf", false, true, false));
  // A header asking for more than 64 MiB of pixels.
  bmp[18] = 0x00, bmp[19] = 0x10, bmp[20] = bmp[21] = 0;  // width 4096
  bmp[22] = 0x01, bmp[23] = 0x10, bmp[24] = bmp[25] = 0;  // height 4097
  picture_test::WriteAll(dir + "huge.bmp", bmp);
  expectNamed(dir + "huge.bmp");
  EXPECT_NE(message(dir + "huge.bmp").find("图片过大"), AnsiString::npos);
  EXPECT_THROW(TWinPicture::Load(dir + "absent.bmp"), EFOpenError);
}
#endif
