#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "wizard/preview/Preview.h"
#include "wizard/preview/PreviewPaint.h"
#include "system/IconEdit.h"

namespace {

void WriteFile(const AnsiString& name, const std::string& data) {
  TFileStream f(name, fmCreate);
  if (!data.empty()) f.WriteBuffer(data.data(), data.size());
}

class PreviewTest : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/preview-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Root = tmpl;
    SetSandboxRoot(Root);
    Work = TempFolder() + "work\\";
    ASSERT_TRUE(ForceFolders(Work + "app\\doc"));
    ASSERT_TRUE(ForceFolders(Work + "data\\Imports\\c1"));
    // A data folder of the test's own: the page template, and a catalogue with one component.
    const AnsiString source = ProgramPath(std::string(GBSETUP_SOURCE_DIR) + "/data") + "\\";
    for (const char* f : {"Page.txt", "Ins.ini"}) ASSERT_TRUE(CopyFileTo(source + f, Work + "data\\" + f, false));
    WriteFile(Work + "data\\Imports\\ComList.ini", "[Com]\r\nC1=c1\r\n[ComSize]\r\nC1=2097152\r\n");
    WriteFile(Work + "data\\Imports\\c1\\c1.dll", "dll");
    SetBaseFolder(Work + "data\\");

    WriteFile(Work + "app\\main.exe", std::string(300000, 'm'));
    WriteFile(Work + "app\\doc\\guide.txt", std::string(1000, 'g'));
    WriteFile(Work + "licence.txt", "许可协议第一行\r\n第二条：测试。\r\n");
    WriteFile(Work + "readme.txt", "说明正文\r\n");
    ASSERT_TRUE(CopyFileTo(ProgramPath(std::string(PICTURE_FIXTURES) + "/quads.jpg"), Work + "head.jpg", false));
    ASSERT_TRUE(CopyFileTo(ProgramPath(std::string(PICTURE_FIXTURES) + "/quads24.bmp"), Work + "strip.bmp", false));

    Project = TIntfPtr<IProject>(new TProject);
    Project->FindWork("项目名称")->Value = "预览测试";
    auto files = QueryIntf<IProjectFiles>(Project);
    for (const char* f : {"main.exe", "doc\\guide.txt"}) {
      TFileInfoRec* r = files->GetFileList()->Add();
      r->SourcePath = Work + "app\\" + f;
      r->FileName = ExtractFileName(f);
      r->TargetDir = AnsiString("Program Files") + (AnsiString(f).find('\\') != AnsiString::npos ? "\\doc" : "");
    }
    QueryIntf<IProjectComponents>(Project)->GetComponents()->Add("C1");
    Page("欢迎", "标题图片", Work + "head.jpg");
    Page("安装协议说明", "标题图片", Work + "strip.bmp");
    Page("安装协议说明", "安装协议", Work + "licence.txt");
    Page("软件使用说明", "说明协议", Work + "readme.txt");
    Page("安装完毕", "主程序", Work + "app\\main.exe");
  }
  void TearDown() override {
    SetBaseFolder("");
    if (!HasFailure()) std::system(("rm -rf '" + Root + "'").c_str());
  }
  void Page(const char* page, const char* name, const AnsiString& value) {
    for (TPageInfoRec* r : *Project->GetPageList())
      if (r->Page == page && r->Name == name) {
        r->Value = value;
        return;
      }
    FAIL() << "no page item " << name;
  }
  TPreviewRun Run(int dpi = 96) {
    const TLayoutScale scale(dpi);
    Painter = std::make_unique<TPagePainter>(scale);
    return RunPreview(Project, AnsiString(), scale, Painter->Measure(), Pictures);
  }
  static const TPreviewPage* PageOf(const TPreviewRun& run, int index) {
    for (const TPreviewPage& p : run.Pages)
      if (p.Index == index) return &p;
    return nullptr;
  }
  static const TPreviewRow& Row(const TPreviewPage* page, const char* name) {
    static const TPreviewRow none;
    if (!page) return none;
    const TPreviewRow* r = page->Find(name);
    EXPECT_NE(r, nullptr) << name;
    return r ? *r : none;
  }

  std::string Root;
  AnsiString Work;
  TIntfPtr<IProject> Project;
  std::unique_ptr<TPagePainter> Painter;
  TPictureCache Pictures;
};

}  // namespace

TEST_F(PreviewTest, EveryShownPageCarriesTheTextsAndStatesTheSetupGivesIt) {
  Page("软件使用说明", "页面显示", "否");
  Page("选择安装文件夹", "程序文件夹名称", "预览\\应用");
  Page("选择安装文件夹", "允许用户更改文件夹名称", "否");
  Page("选择程序文件夹", "程序文件夹名称", "预览组");
  Page("安装进程", "显示详细内容", "是");
  Page("安装完毕", "显示创建快速启动栏选项", "是");
  const TPreviewRun run = Run();

  std::vector<int> shown;
  for (const TPreviewPage& p : run.Pages) shown.push_back(p.Index);
  EXPECT_EQ(shown, (std::vector<int>{0, 1, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(run.Skipped, std::vector<int>{2});
  EXPECT_TRUE(run.Boxes.Empty());

  const TPreviewPage* welcome = PageOf(run, 0);
  ASSERT_NE(welcome, nullptr);
  EXPECT_EQ(welcome->Caption, "“预览测试”安装向导");
  EXPECT_EQ(Row(welcome, "LB_Head").Text, "欢迎使用“预览测试”安装向导");
  ASSERT_TRUE(Row(welcome, "Image1").Picture);
  EXPECT_EQ(Row(welcome, "Image1").Picture->FileName, Work + "head.jpg");
  EXPECT_FALSE(Row(welcome, "bPrevious").Visible);
  EXPECT_EQ(Row(welcome, "bNext").Text, SNextCaption);
  EXPECT_FALSE(Row(welcome, "lVersion").Visible);  // no copyright line in the project

  const TPreviewPage* licence = PageOf(run, 1);
  EXPECT_EQ(Row(licence, "bNext").Text, SAgree);
  EXPECT_EQ(Row(licence, "bPrevious").Text, SPrevCaption);
  EXPECT_NE(Row(licence, "m_Protected").Text.find("第二条：测试。"), AnsiString::npos);
  ASSERT_TRUE(Row(licence, "Img_Pro_Head").Picture);
  EXPECT_TRUE(Row(licence, "Img_Pro_Head").Picture->Drawable());
  EXPECT_EQ(licence->Find("Image1"), nullptr);  // another page's row

  EXPECT_EQ(Row(PageOf(run, 3), "Edt_SelectFolder").Text, "预览组");
  EXPECT_FALSE(Row(PageOf(run, 3), "Edt_SelectFolder").ReadOnly);

  // The components with the catalogue's size; the program files counted once.
  const TPreviewPage* components = PageOf(run, 4);
  EXPECT_EQ(Row(components, "List_Component").Rows, (std::vector<AnsiString>{"主程序", "C1"}));
  EXPECT_EQ(Row(components, "List_Component").Checked, (std::vector<bool>{true, true}));
  const AnsiString needed = TFrm_Setup::SizeText(300000 + 1000 + 2097152);
  EXPECT_EQ(Row(components, "Label9").Text, "所需空间大小:" + needed);

  const TPreviewPage* folder = PageOf(run, 5);
  EXPECT_EQ(Row(folder, "eInsDir").Text, ProgramFilesFolder() + "\\预览\\应用");
  EXPECT_TRUE(Row(folder, "eInsDir").ReadOnly);
  EXPECT_FALSE(Row(folder, "bBrowse").Enabled);
  EXPECT_EQ(Row(folder, "lNeedsSize").Text, needed);
  EXPECT_NE(Row(folder, "lDrvSize").Text.find("B"), AnsiString::npos);

  // A run in mid-course: the first of the two program files reported, the Cancel button off.
  const TPreviewPage* progress = PageOf(run, 7);
  const AnsiString first = ProgramFilesFolder() + "\\预览\\应用\\main.exe";
  EXPECT_EQ(Row(progress, "Label30").Text, first);
  EXPECT_EQ(Row(progress, "mInstall").Rows, std::vector<AnsiString>{first});
  EXPECT_TRUE(Row(progress, "mInstall").Visible);
  // Entries: project, catalogue, two program files, the component's file, the pictures and
  // texts of the pages, the uninstaller.
  EXPECT_EQ(Row(progress, "ProgressBar1").Position, 2);
  EXPECT_GT(Row(progress, "ProgressBar1").Max, 5);
  EXPECT_EQ(Row(progress, "Label31").Text,
            IntToStr(int64_t(200.0 / Row(progress, "ProgressBar1").Max + 0.5)) + "%");
  EXPECT_FALSE(Row(progress, "bCancel").Enabled);
  EXPECT_FALSE(Row(progress, "bNext").Visible);

  const TPreviewPage* finish = PageOf(run, 8);
  EXPECT_TRUE(finish->White);
  EXPECT_EQ(Row(finish, "bCancel").Text, AnsiString(SDone) + "(&F)");
  EXPECT_EQ(Row(finish, "Lb_Insted_Prog").Text, "“预览测试”安装向导已完成安装");
  EXPECT_EQ(Row(finish, "lFinished").Rows,
            (std::vector<AnsiString>{"运行“预览测试”", "创建快捷方式到桌面", "创建快捷方式到开始菜单", "创建快捷方式到启动栏"}));
}

TEST_F(PreviewTest, RowsLieWhereTheLayoutPutsThemAtEveryScale) {
  for (int dpi : {96, 144, 192}) {
    SCOPED_TRACE(dpi);
    const TLayoutScale scale(dpi);
    const TPreviewRun run = Run(dpi);
    ASSERT_FALSE(run.Pages.empty());
    for (const TPreviewPage& page : run.Pages) {
      EXPECT_EQ(page.Width, scale.Size(kWizardClientWidth));
      EXPECT_EQ(page.Height, scale.Size(kWizardClientHeight));
      for (const TPreviewRow& row : page.Rows) {
        const TLayoutItem& item = *row.Item;
        SCOPED_TRACE(item.Name);
        // Every row lies inside the window; a page's rows inside the notebook.
        EXPECT_GE(row.Box.X, 0);
        EXPECT_GE(row.Box.Y, 0);
        EXPECT_LE(row.Box.X + row.Box.W, page.Width);
        EXPECT_LE(row.Box.Y + row.Box.H, item.Page >= 0 ? scale.Size(kNotebookHeight) : page.Height);
        const bool label = item.Kind == TLayoutKind::Label || item.Kind == TLayoutKind::Link;
        if (label && (item.W == 0 || item.H == 0)) {
          // Sized to its text, from the table's top-left.
          EXPECT_EQ(row.Box.X, scale.Pos(item.X));
          EXPECT_EQ(row.Box.Y, scale.Pos(item.Y));
          if (!row.Text.empty()) {
            EXPECT_GT(row.Box.W * row.Box.H, 0);
          }
        } else if (!label || !(item.Flags & lfWordWrap)) {
          const TLayoutItem* parent = item.Parent ? FindLayoutItem(item.Parent) : nullptr;
          const TScaledRect want = scale.Rect(item.X + (parent ? parent->X : 0), item.Y + (parent ? parent->Y : 0), item.W, item.H);
          EXPECT_EQ(row.Box.X, want.X);
          EXPECT_EQ(row.Box.Y, want.Y);
          EXPECT_EQ(row.Box.W, want.W);
          EXPECT_EQ(row.Box.H, want.H);
        }
      }
    }
    // A label sized to its text grows with the font.
    const TPreviewRow* bold = run.Pages[1].Find("Label7");
    ASSERT_NE(bold, nullptr);
    EXPECT_NEAR(bold->Box.H, scale.Size(15), scale.Size(4));
    EXPECT_NEAR(bold->Box.W, 7 * std::abs(scale.Font(-12)), scale.Size(12));  // seven characters
    // The picture is the window with its frame and caption bar.
    EXPECT_EQ(Painter->WindowWidth(run.Pages[0]), scale.Size(kWizardClientWidth) + 2 * scale.Size(3));
    EXPECT_EQ(Painter->WindowHeight(run.Pages[0]), scale.Size(kWizardClientHeight) + 2 * scale.Size(3) + scale.Size(19));
  }
}

TEST_F(PreviewTest, TheProgressBarIsFilledToItsPosition) {
  const TPreviewRun run = Run();
  const TPreviewPage* progress = PageOf(run, 7);
  ASSERT_NE(progress, nullptr);
  const TPreviewRow& bar = Row(progress, "ProgressBar1");
  ASSERT_GT(bar.Max, 0);
  const std::vector<uint32_t> px = Painter->Paint(*progress);
  const int width = Painter->WindowWidth(*progress);
  // The client area starts below the caption bar, inside the frame.
  const int y = 3 + 19 + bar.Box.Y + bar.Box.H / 2;
  const int filled = (bar.Box.W - 2) * bar.Position / bar.Max;
  auto at = [&](int x) { return px[size_t(y) * width + 3 + bar.Box.X + x] & 0xFFFFFF; };
  EXPECT_EQ(at(1), 0x3096FAu);
  EXPECT_EQ(at(filled), 0x3096FAu);
  EXPECT_EQ(at(filled + 2), 0xFFFFFFu);
  EXPECT_EQ(at(bar.Box.W - 2), 0xFFFFFFu);
}

TEST_F(PreviewTest, BadInputGivesTheSetupsResult) {
  // A picture that cannot be read, used on two pages: left out and named for each page item,
  // as the setup does; a missing one is left out silently; one no library here draws is kept
  // as a frame and named once.
  WriteFile(Work + "bad.bmp", "BM not a bitmap at all, only words");
  std::string emf(108, '\0');
  emf[0] = 1;
  emf[40] = ' ', emf[41] = 'E', emf[42] = 'M', emf[43] = 'F';
  emf[32] = char(0xC4), emf[33] = 0x09;  // frame 2500 x 1300 hundredths of a millimetre
  emf[36] = 0x14, emf[37] = 0x05;
  WriteFile(Work + "pic.emf", emf);
  Page("安装协议说明", "标题图片", Work + "bad.bmp");
  Page("确认安装", "标题图片", Work + "bad.bmp");
  Page("选择程序文件夹", "标题图片", Work + "gone.jpg");
  Page("选择安装组件", "标题图片", Work + "pic.emf");
  Page("选择安装文件夹", "标题图片", Work + "pic.emf");
  // A licence past the memo's limit is cut at a line end; the page still comes up.
  std::string big;
  while (big.size() < (1u << 20) + 5000) big += "这是一行很长的协议文字。\r\n";
  WriteFile(Work + "licence.txt", big);

  const TPreviewRun run = Run();
  ASSERT_EQ(run.Pages.size(), 9u);
  ASSERT_EQ(run.Boxes.Count(), 2);
  for (const AnsiString& box : run.Boxes) EXPECT_NE(box.find(Work + "bad.bmp"), AnsiString::npos) << box;
  EXPECT_NE(run.Boxes[0].find("安装协议说明"), AnsiString::npos);
  EXPECT_NE(run.Boxes[1].find("确认安装"), AnsiString::npos);
  EXPECT_FALSE(Row(PageOf(run, 1), "Img_Pro_Head").Picture);
  EXPECT_FALSE(Row(PageOf(run, 6), "Image7").Picture);
  EXPECT_FALSE(Row(PageOf(run, 3), "Image3").Picture);
  ASSERT_TRUE(Row(PageOf(run, 4), "Image5").Picture);
  EXPECT_FALSE(Row(PageOf(run, 4), "Image5").Picture->Drawable());
  EXPECT_EQ(Row(PageOf(run, 4), "Image5").Picture->Width, 2500 * 96 / 2540);
  EXPECT_EQ(Pictures.Undrawn().Count(), 1);
  const AnsiString& memo = Row(PageOf(run, 1), "m_Protected").Text;
  EXPECT_LE(memo.size(), 1u << 20);
  EXPECT_GT(memo.size(), (1u << 20) - 100);
  EXPECT_EQ(memo.substr(memo.size() - 2), "\r\n");

  // A picture file that cannot be written is an error naming it.
  const AnsiString unwritable = Work + "no-such-folder\\1-welcome.png";
  EXPECT_THROW(Painter->WritePng(run.Pages[0], unwritable), EFCreateError);
  Painter->WritePng(run.Pages[0], Work + "1-welcome.png");
  EXPECT_GT(FileSizeOf(Work + "1-welcome.png"), 1000);
}

// A solid square as a PNG file's bytes.
std::string SolidPng(int size, uint32_t rgb) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, (rgb >> 16) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::string out;
  cairo_surface_write_to_png_stream(
      s,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &out);
  cairo_surface_destroy(s);
  return out;
}

// An icon file of solid images, one per (size, colour RGB): 32-bit bitmaps, and PNG-compressed
// ones for sizes given negative.
std::string SolidIcon(const std::vector<std::pair<int, uint32_t>>& images) {
  auto u16 = [](std::string& s, uint16_t v) { s += char(v & 0xFF), s += char(v >> 8); };
  auto u32 = [&](std::string& s, uint32_t v) { u16(s, uint16_t(v & 0xFFFF)), u16(s, uint16_t(v >> 16)); };
  std::string head, body;
  u16(head, 0), u16(head, 1), u16(head, uint16_t(images.size()));
  for (const auto& [signedSize, rgb] : images) {
    const int size = std::abs(signedSize);
    std::string bmp;
    if (signedSize < 0) bmp = SolidPng(size, rgb);
    else u32(bmp, 40), u32(bmp, uint32_t(size)), u32(bmp, uint32_t(size * 2)), u16(bmp, 1), u16(bmp, 32);
    for (int i = 0; i < 6; ++i) u32(bmp, 0);
    for (int i = 0; signedSize > 0 && i < size * size; ++i) bmp += {char(rgb & 0xFF), char((rgb >> 8) & 0xFF), char(rgb >> 16), char(0xFF)};
    if (signedSize > 0) bmp += std::string(size_t((size + 31) / 32 * 4 * size), '\0');  // the AND mask: all opaque
    head += char(size & 0xFF), head += char(size & 0xFF), head += '\0', head += '\0';
    u16(head, 1), u16(head, 32), u32(head, uint32_t(bmp.size()));
    u32(head, uint32_t(6 + 16 * images.size() + body.size()));
    body += bmp;
  }
  return head + body;
}

// The caption bar's icon is the image that fits the bar at the density: from an icon file, and
// from an executable's MAINICON group as the builder writes it.
TEST(PreviewIconTest, TheImageThatFitsTheCaptionBarIsTakenFromAnIconFileOrAnExecutable) {
  char tmpl[] = "/tmp/preview-icon-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  SetSandboxRoot(root);
  const AnsiString ico = TempFolder() + "sizes.ico";
  // PNG-compressed images, as many icons store their large ones, decode too.
  WriteFile(ico, SolidIcon({{16, 0xFF0000}, {24, 0x00FF00}, {32, 0x0000FF}, {48, 0xFFFFFF}, {-64, 0xFF00FF}}));
  auto colour = [](const std::shared_ptr<const TPreviewPicture>& p) -> uint32_t {
    return p && p->Drawable() ? p->Pixels[p->Pixels.size() / 2] & 0xFFFFFFu : 0x123456u;
  };
  const AnsiString exe = TempFolder() + "stub.exe";
  {
    TFileStream in(ProgramPath(ICONEDIT_FIXTURE), fmOpenRead | fmShareDenyNone);
    TArrayByte image(static_cast<size_t>(in.Size()));
    in.ReadBuffer(image.data(), image.size());
    const TArrayByte replaced = ReplaceIconInImage(image, LoadIconFile(ico));
    TFileStream out(exe, fmCreate);
    out.WriteBuffer(replaced.data(), replaced.size());
  }
  for (const AnsiString& file : {ico, exe}) {
    SCOPED_TRACE(file);
    const struct {
      int Size, Width;
      uint32_t Colour;
    } cases[] = {{16, 16, 0xFF0000}, {20, 24, 0x00FF00}, {24, 24, 0x00FF00}, {32, 32, 0x0000FF}, {40, 48, 0xFFFFFF}, {64, 64, 0xFF00FF}, {128, 64, 0xFF00FF}};
    for (const auto& c : cases) {
      const auto icon = LoadWindowIcon(file, c.Size);
      ASSERT_TRUE(icon && icon->Drawable()) << c.Size;
      EXPECT_EQ(icon->Width, c.Width) << c.Size;
      EXPECT_EQ(colour(icon), c.Colour) << c.Size;
    }
  }
  // A page picture that is such an icon shows its first image; a PNG one decodes as well.
  WriteFile(TempFolder() + "png.ico", SolidIcon({{-20, 0x00FFFF}}));
  const auto picture = LoadPreviewPicture(TempFolder() + "png.ico");
  ASSERT_TRUE(picture->Drawable());
  EXPECT_EQ(picture->Width, 20);
  EXPECT_EQ(colour(picture), 0x00FFFFu);
  // No icon, or not one that decodes: no icon in the bar, and no error.
  WriteFile(TempFolder() + "bad.ico", std::string("\0\0\1\0\1\0", 6) + std::string(40, 'x'));
  EXPECT_EQ(LoadWindowIcon(TempFolder() + "bad.ico", 16), nullptr);
  EXPECT_EQ(LoadWindowIcon(TempFolder() + "missing.exe", 16), nullptr);
  std::system(("rm -rf '" + root + "'").c_str());
}
