// The time per page of gbsetup preview: the wizard filled and walked (the preview view's
// model), each page drawn, each page written as PNG; and the one-off start of the fonts.
//   preview [--rounds N] [--scale 1|1.5|2]
// The project is examples/hello's, made in code with its files and pictures.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "wizard/preview/Preview.h"
#include "wizard/preview/PreviewPaint.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

TIntfPtr<IProject> HelloProject(const AnsiString& hello) {
  TIntfPtr<IProject> project(new TProject);
  project->FindWork("项目名称")->Value = "Hello 示例";
  auto files = QueryIntf<IProjectFiles>(project);
  for (const char* f : {"hello.ini", "licence.txt", "readme.txt", "doc\\guide.txt"}) {
    TFileInfoRec* r = files->GetFileList()->Add();
    r->SourcePath = hello + "app\\" + f;
    r->FileName = ExtractFileName(f);
    r->TargetDir = AnsiString("Program Files") + (std::strchr(f, '\\') ? "\\doc" : "");
  }
  auto page = [&](const char* p, const char* n, const AnsiString& v) {
    for (TPageInfoRec* r : *project->GetPageList())
      if (r->Page == p && r->Name == n) r->Value = v;
  };
  page("欢迎", "标题图片", hello + "images\\head.jpg");
  page("欢迎", "版权信息", "版权所有 (C) 示例作者");
  page("欢迎", "网站链接", "https://example.com/hello");
  for (const char* p : {"安装协议说明", "软件使用说明", "选择程序文件夹", "选择安装组件", "选择安装文件夹", "确认安装", "安装进程"})
    page(p, "标题图片", hello + "images\\caption.jpg");
  page("安装协议说明", "安装协议", hello + "app\\licence.txt");
  page("软件使用说明", "说明协议", hello + "app\\readme.txt");
  page("安装完毕", "标题图片", hello + "images\\head.jpg");
  page("安装完毕", "自述文件", hello + "app\\readme.txt");
  return project;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 20, dpi = 96;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--scale")) dpi = int(std::atof(argv[i + 1]) * 96 + 0.5);
  }
  char tmpl[] = "/tmp/bench-preview-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;
  SetSandboxRoot(root);
  SetBaseFolder(ProgramPath(std::string(GBSETUP_SOURCE_DIR) + "/data") + "\\");
  const AnsiString hello = ProgramPath(std::string(GBSETUP_SOURCE_DIR) + "/examples/hello") + "\\";
  const AnsiString out = ProgramPath(root) + "\\";
  const TLayoutScale scale(dpi);

  double t = Now();
  TPagePainter painter(scale);
  painter.Paint(TPreviewPage{0, "x", scale.Size(kWizardClientWidth), scale.Size(kWizardClientHeight), false, {}});
  const double start = Now() - t;

  std::vector<double> walk, draw, png;
  size_t pages = 0;
  for (int r = 0; r < rounds; ++r) {
    TPictureCache pictures;  // each round decodes its pictures again
    t = Now();
    const TPreviewRun run = RunPreview(HelloProject(hello), AnsiString(), scale, painter.Measure(), pictures);
    walk.push_back(Now() - t);
    pages = run.Pages.size();
    t = Now();
    for (const TPreviewPage& page : run.Pages) painter.Paint(page);
    draw.push_back(Now() - t);
    t = Now();
    for (const TPreviewPage& page : run.Pages) painter.WritePng(page, out + IntToStr(page.Index) + ".png");
    png.push_back(Now() - t);
  }
  const double n = double(pages ? pages : 1);
  const double w = Median(walk) / n * 1e3, d = Median(draw) / n * 1e3, p = Median(png) / n * 1e3;
  std::printf("preview of examples/hello at %d dpi, %zu pages, median of %d rounds\n", dpi, pages, rounds);
  std::printf("  fonts started once:        %7.2f ms\n", start * 1e3);
  std::printf("  filled and walked:         %7.2f ms per page\n", w);
  std::printf("  drawn:                     %7.2f ms per page\n", d);
  std::printf("  drawn and written as PNG:  %7.2f ms per page\n", p);
  std::printf("  per page, all of it:       %7.2f ms (%.1f ms for the %zu pages)\n", w + p, (w + p) * n, pages);
  std::system(("rm -rf '" + root + "'").c_str());
  return 0;
}
