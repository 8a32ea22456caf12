// The pictures' portable part: the kind by extension and JPEG decoding. The fixtures are
// made by tests/fixtures/picture/make-pictures.sh: "quads" is 32×32 with the quadrants red,
// lime, blue and white; "halves" 32×16 gray 64 | 192.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "unit/wizard/PictureFixtures.h"
#include "wizard/Picture.h"

namespace {

class PictureTest : public ::testing::Test {
protected:
  std::string Root;
  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/picture-test-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
#endif
    ForceFolders(TempFolder());
  }
  void TearDown() override {
#ifndef _WIN32
    std::system(("rm -rf '" + Root + "'").c_str());
#endif
  }
};

// The message of the call, or "" when it raised nothing of the kind.
template <class E, class F>
AnsiString MessageOf(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.Message();
  }
  return "";
}

void ExpectColour(const TBitmap32& b, int x, int y, uint32_t rgb, int tolerance, const char* what) {
  ASSERT_TRUE(x < b.Width && y < b.Height) << what;
  SCOPED_TRACE(testing::Message() << what << " at " << x << "," << y);
  EXPECT_TRUE(picture_test::Near(b.Pixels[size_t(y) * b.Width + x], rgb, tolerance))
      << std::hex << b.Pixels[size_t(y) * b.Width + x] << " for " << rgb;
}

}  // namespace

TEST(PictureFormat, ChosenByTheExtensionFoldedWithTheDotExcluded) {
  EXPECT_EQ(PictureFormatOf("C:\\Temp\\Head.bmp"), TPictureFormat::Bmp);
  EXPECT_EQ(PictureFormatOf("C:\\Temp\\a.b\\Head.BMP"), TPictureFormat::Bmp);
  EXPECT_EQ(PictureFormatOf("Head.Ico"), TPictureFormat::Ico);
  EXPECT_EQ(PictureFormatOf("Head.eMf"), TPictureFormat::Emf);
  EXPECT_EQ(PictureFormatOf("Head.WMF"), TPictureFormat::Wmf);
  EXPECT_EQ(PictureFormatOf("Head.jpg"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatOf("Head.JPEG"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatOf("C:\\临时\\标题图片.jPg"), TPictureFormat::Jpeg);

  auto unknown = [](const AnsiString& name) { return MessageOf<EInvalidGraphic>([&] { PictureFormatOf(name); }); };
  EXPECT_EQ(unknown("Head.png"), "Unknown picture file extension (.png)");
  EXPECT_EQ(unknown("Head.PNG"), "Unknown picture file extension (.PNG)");  // as written
  EXPECT_EQ(unknown("Head.jpe"), "Unknown picture file extension (.jpe)");
  EXPECT_EQ(unknown("Head.bmp.txt"), "Unknown picture file extension (.txt)");
  EXPECT_EQ(unknown("Head.bmp "), "Unknown picture file extension (.bmp )");
  EXPECT_EQ(unknown("C:\\Image.jpg\\Head"), "Unknown picture file extension (.)");  // a folder's dot
  EXPECT_EQ(unknown("Head"), "Unknown picture file extension (.)");
  EXPECT_EQ(unknown("Head."), "Unknown picture file extension (.)");
  EXPECT_EQ(unknown(""), "Unknown picture file extension (.)");
}

TEST_F(PictureTest, JpegDecodesColourProgressiveCmykAndGrayscaleToRgbPixels) {
  struct {
    const char* Name;
    int Tolerance;
  } colour[] = {{"quads.jpg", 16}, {"quads-progressive.jpg", 16}, {"quads-cmyk.jpg", 24}};
  for (const auto& c : colour) {
    TBitmap32 b = DecodeJpegFile(picture_test::Fixture(c.Name));
    ASSERT_EQ(b.Width, 32) << c.Name;
    ASSERT_EQ(b.Height, 32) << c.Name;
    ASSERT_EQ(b.Pixels.size(), 32u * 32u) << c.Name;
    ExpectColour(b, 7, 7, 0xFF0000, c.Tolerance, c.Name);
    ExpectColour(b, 24, 7, 0x00FF00, c.Tolerance, c.Name);
    ExpectColour(b, 7, 24, 0x0000FF, c.Tolerance, c.Name);
    ExpectColour(b, 24, 24, 0xFFFFFF, c.Tolerance, c.Name);
    for (uint32_t p : b.Pixels) ASSERT_EQ(p >> 24, 0u) << c.Name;  // no stray alpha byte
  }
  TBitmap32 gray = DecodeJpegFile(picture_test::Fixture("halves-gray.jpg"));
  ASSERT_EQ(gray.Width, 32);
  ASSERT_EQ(gray.Height, 16);
  ExpectColour(gray, 4, 8, 0x404040, 4, "left half");
  ExpectColour(gray, 28, 8, 0xC0C0C0, 4, "right half");
  for (uint32_t p : gray.Pixels) {
    const uint32_t v = p & 0xFF;
    ASSERT_EQ(p, (v << 16) | (v << 8) | v);  // one channel copied to all three
  }
}

TEST_F(PictureTest, JpegThatCannotBeDecodedRaisesNamingTheFileAndOversizeIsRefused) {
  const AnsiString dir = TempFolder();
  TArrayByte good = picture_test::ReadAll(picture_test::Fixture("quads.jpg"));
  TArrayByte progressive = picture_test::ReadAll(picture_test::Fixture("quads-progressive.jpg"));
  ASSERT_GT(good.size(), 100u);
  auto failure = [&](const AnsiString& name, const TArrayByte& bytes) {
    const AnsiString path = dir + name;
    picture_test::WriteAll(path, bytes);
    return MessageOf<EInvalidGraphic>([&] { DecodeJpegFile(path); });
  };
  auto expectNamed = [&](const AnsiString& message, const AnsiString& name) {
    EXPECT_EQ(message.rfind("图片文件“" + dir + name + "”无法读取：", 0), 0u) << message;
    EXPECT_GT(message.size(), (AnsiString("图片文件“”无法读取：") + dir + name).size()) << "a reason follows";
  };

  expectNamed(failure("截断的图片.jpg", TArrayByte(good.begin(), good.begin() + good.size() / 2)), "截断的图片.jpg");
  expectNamed(failure("cut-progressive.jpg", TArrayByte(progressive.begin(), progressive.begin() + progressive.size() * 2 / 3)),
              "cut-progressive.jpg");
  const char text[] = "This is no picture at all, only text.";
  expectNamed(failure("text.jpg", TArrayByte(text, text + sizeof text)), "text.jpg");
  expectNamed(failure("empty.jpg", TArrayByte()), "empty.jpg");
  TArrayByte headerOnly(good.begin(), good.begin() + 2);  // SOI alone
  expectNamed(failure("soi.jpg", headerOnly), "soi.jpg");

  // Only the closing marker missing: every row is there, so the picture is shown.
  ASSERT_EQ(good[good.size() - 2], 0xFF);
  ASSERT_EQ(good[good.size() - 1], 0xD9);
  const AnsiString noEoi = dir + "no-eoi.jpg";
  picture_test::WriteAll(noEoi, TArrayByte(good.begin(), good.end() - 2));
  TBitmap32 b = DecodeJpegFile(noEoi);
  ExpectColour(b, 24, 24, 0xFFFFFF, 16, "no EOI");

  // A header that asks for more than 64 MiB of pixels is refused before decoding; exactly
  // 64 MiB is decoded (and fails only for want of data).
  size_t sof = 0;
  for (size_t i = 2; i + 9 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  ASSERT_NE(sof, 0u);
  auto sized = [&](unsigned w, unsigned h) {
    TArrayByte t = good;
    t[sof + 5] = uint8_t(h >> 8), t[sof + 6] = uint8_t(h), t[sof + 7] = uint8_t(w >> 8), t[sof + 8] = uint8_t(w);
    return t;
  };
  const AnsiString huge = failure("huge.jpg", sized(4096, 4097));
  expectNamed(huge, "huge.jpg");
  EXPECT_NE(huge.find("图片过大（4096×4097）"), AnsiString::npos) << huge;
  const AnsiString limit = failure("limit.jpg", sized(4096, 4096));
  expectNamed(limit, "limit.jpg");
  EXPECT_EQ(limit.find("图片过大"), AnsiString::npos) << limit;

  // A file that cannot be opened is the file layer's error.
  EXPECT_THROW(DecodeJpegFile(dir + "absent.jpg"), EFOpenError);
}
