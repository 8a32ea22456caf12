// The pictures drawn with GDI (Windows build only, run under Wine): every kind is drawn into
// a 32-bit memory bitmap filled with magenta, and pixels are read back at known points.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>

#include "system/FileCtrl.h"
#include "system/SysKernel.h"
#include "unit/wizard/PictureFixtures.h"
#include "wizard/win32/WinPicture.h"
#include "system/win32/WideText.h"

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
  HDC dc = CreateEnhMetaFileW(nullptr, wintext::Wide(path).c_str(), &frame, nullptr);
  EXPECT_NE(dc, nullptr);
  DrawHalves(dc);
  DeleteEnhMetaFile(CloseEnhMetaFile(dc));
  return path;
}

// A placeable wmf: the header (key, box 0,0-40,20 at 96 units an inch, checksum), then the
// metafile that CreateMetaFileW wrote.
AnsiString MakeWmf(const AnsiString& path, bool placeable, bool goodChecksum = true, bool withExtent = true) {
  const AnsiString plain = path + ".plain";
  HDC dc = CreateMetaFileW(wintext::Wide(plain).c_str());
  EXPECT_NE(dc, nullptr);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  if (withExtent) SetWindowExtEx(dc, 40, 20, nullptr);
  DrawHalves(dc);
  DeleteMetaFile(CloseMetaFile(dc));
  TArrayByte body = picture_test::ReadAll(plain);
  DeleteFileAt(plain);
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
  for (const AnsiString& name : {emf, wmf, plain}) {
    SCOPED_TRACE(name);
    auto p = TWinPicture::Load(name);
    if (name != emf) {
      EXPECT_EQ(p->Width(), 40);  // the box's 40 units at 96 an inch, whatever the screen's density
      EXPECT_EQ(p->Height(), 20);
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

// At 150 % and 200 % a picture drawn at its natural size takes that size times the scale:
// a bitmap enlarged smoothly, a metafile played into the larger frame, an icon from the image
// of its file that fits best. Stretched pictures keep filling their box.
TEST(WinPicture, AtAnotherDensityNaturalSizesScaleAndIconsTakeTheirBestImage) {
  auto bmp = TWinPicture::Load(picture_test::Fixture("quads24.bmp"));
  TCanvas c(200, 120);
  bmp->Draw(c.DC(), RECT{10, 10, 110, 110}, false, TLayoutScale(144));
  ExpectQuads(c, 10, 10, 48, 48, "32 x 32 at 150 %");
  ExpectAt(c, 10 + 50, 20, kMagenta, "right of 48 pixels");
  ExpectAt(c, 20, 10 + 50, kMagenta, "below 48 pixels");
  // Across the red and lime quadrants: a filter leaves blends at the seam, repeated pixels do not.
  int blends = 0;
  for (int x = 10 + 18; x < 10 + 30; ++x) {
    const uint32_t p = c.At(x, 20);
    if (!picture_test::Near(p, kRed, 40) && !picture_test::Near(p, kLime, 40)) ++blends;
  }
  EXPECT_GT(blends, 0) << "enlarged without a filter";
  bmp->Draw(c.DC(), RECT{120, 10, 140, 30}, false, TLayoutScale(192));
  ExpectAt(c, 125, 15, kRed, "clipped at 200 %");
  ExpectAt(c, 142, 15, kMagenta, "clipped away at 200 %");
  bmp->Draw(c.DC(), RECT{150, 60, 200, 120}, true, TLayoutScale(192));
  ExpectQuads(c, 150, 60, 50, 60, "stretched: the box whatever the scale");

  ForceFolders(TempFolder());
  auto wmf = TWinPicture::Load(MakeWmf(TempFolder() + "scaled.wmf", true));
  TCanvas m(120, 60);
  wmf->Draw(m.DC(), RECT{0, 0, 120, 60}, false, TLayoutScale(192));
  ExpectAt(m, 20, 20, kRed, "metafile at 200 %, left half");
  ExpectAt(m, 60, 20, kBlue, "metafile at 200 %, right half");
  ExpectAt(m, 85, 20, kMagenta, "right of 80 pixels");
  ExpectAt(m, 20, 45, kMagenta, "below 40 pixels");

  // 16 red (the first image), 24 lime, 32 blue, 48 white.
  auto ico = TWinPicture::Load(picture_test::Fixture("sizes.ico"));
  ASSERT_EQ(ico->Width(), 16);
  struct TCase {
    int Dpi;
    bool Stretch;
    int Box;
    uint32_t Colour;
    const char* What;
  };
  for (const TCase& t : {TCase{96, false, 60, kRed, "100 %: the first image"}, TCase{120, false, 60, kLime, "20 pixels: 24 shrunk"},
                         TCase{144, false, 60, kLime, "24 pixels"}, TCase{192, false, 60, kBlue, "32 pixels"},
                         TCase{96, true, 40, kWhite, "stretched to 40: 48 shrunk"}, TCase{192, true, 60, kWhite, "larger than all: the largest"}}) {
    SCOPED_TRACE(t.What);
    TCanvas i(64, 64);
    ico->Draw(i.DC(), RECT{0, 0, t.Box, t.Box}, t.Stretch, TLayoutScale(t.Dpi));
    const int size = t.Stretch ? t.Box : 16 * t.Dpi / 96;
    ExpectAt(i, size - 2, size - 2, t.Colour, "inside");
    if (size < 62) ExpectAt(i, size + 1, size + 1, kMagenta, "outside");
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
