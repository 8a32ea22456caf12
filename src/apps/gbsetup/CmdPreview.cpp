// "gbsetup preview": every wizard page a setup shows, drawn as a picture on the builder's
// machine, without Windows.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/gbsetup/Cli.h"

#ifdef GBSETUP_PREVIEW
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "apps/gbsetup/ProjectJson.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "wizard/preview/Preview.h"
#include "wizard/preview/PreviewPaint.h"
#endif

namespace {

#define PREVIEW_USAGE "usage: gbsetup preview SETUP|PROJECT|JSON [--output DIR] [--page N|NAME] [--scale 1|1.25|1.5|2] [--rows]"

#ifdef GBSETUP_PREVIEW

// --scale: the densities a Windows machine offers, as dots per inch.
int DpiOfScale(const std::string& scale) {
  static const struct {
    const char* Text;
    int Dpi;
  } kScales[] = {{"1", 96}, {"1.0", 96}, {"1.25", 120}, {"1.5", 144}, {"2", 192}, {"2.0", 192}};
  for (const auto& s : kScales)
    if (scale == s.Text) return s.Dpi;
  throw ECliError("--scale takes 1, 1.25, 1.5 or 2, not \"" + scale + "\"");
}

// --page: a number 1-9, the name of the picture ("licence", "3-readme") or the page's caption.
int PageOfArg(const std::string& arg) {
  const AnsiString gbk = In(arg);
  for (int i = 0; i < TFrm_Setup::kPageCount; ++i) {
    const std::string number = std::to_string(i + 1);
    if (arg == number || arg == PreviewPageName(i) || arg == number + "-" + PreviewPageName(i) ||
        gbk == TFrm_Setup::PageCaptions[static_cast<size_t>(i)] || gbk == TFrm_Setup::ItemPages[static_cast<size_t>(i)])
      return i;
  }
  throw ECliError("--page takes 1-9 or a page's name (welcome, licence, readme, program-folder, components, "
                  "install-folder, confirm, progress, finish), not \"" + arg + "\"");
}

std::string PictureName(int index) { return std::to_string(index + 1) + "-" + PreviewPageName(index) + ".png"; }

// A built setup: a Windows program, or any file that ends with a package.
bool IsSetupFile(const AnsiString& path) {
  TFileStream f(path, fmOpenRead | fmShareDenyNone);
  char head[2] = {};
  if (f.Size() >= 2 && f.Read(head, 2) == 2 && head[0] == 'M' && head[1] == 'Z') return true;
  try {
    return ReadPackageTrailer(f, path).HasPackage;
  } catch (const Exception&) {
    return false;
  }
}

// What a page shows, one row a line: page, name, kind, shown, sized to its text, rectangle in
// the client area, text (line ends as \n).
void PrintRows(const TPreviewPage& page) {
  static const char* const kKinds[] = {"window", "page",  "label",       "link",   "edit",      "memo",     "details", "button",
                                       "checklist", "list", "reportlist", "progress", "picture", "frame", "groupbox", "bevel"};
  for (const TPreviewRow& row : page.Rows) {
    const TLayoutItem& item = *row.Item;
    std::string text;
    for (char c : Out(row.Text)) {
      if (c == '\r') continue;
      if (c == '\n') text += "\\n";
      else text += c;
    }
    const bool sized = (item.Kind == TLayoutKind::Label || item.Kind == TLayoutKind::Link) && (item.W == 0 || item.H == 0);
    std::printf("%d\t%s\t%s\t%d\t%d\t%d,%d,%d,%d\t%s\n", page.Index, item.Name, kKinds[static_cast<int>(item.Kind)],
                row.Visible ? 1 : 0, sized ? 1 : 0, row.Box.X, row.Box.Y, row.Box.W, row.Box.H, text.c_str());
  }
}

// A box's text on one line.
std::string OneLine(const AnsiString& text) {
  std::string s = Out(text), out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') continue;
    if (s[i] == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += s[i];
  }
  return out;
}

// The private sandbox the preview fills the wizard in: its temporary folder receives what the
// release unpacks. Removed, with everything in it, on every way out.
class TPrivateSandbox {
public:
  TPrivateSandbox() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/gbsetup-preview.XXXXXX";
    if (!mkdtemp(pattern.data())) throw ECliError("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    FRoot = pattern;
    SetSandboxRoot(FRoot);
  }
  ~TPrivateSandbox() {
    std::error_code ec;
    std::filesystem::remove_all(FRoot, ec);
  }
  TPrivateSandbox(const TPrivateSandbox&) = delete;
  TPrivateSandbox& operator=(const TPrivateSandbox&) = delete;

private:
  std::string FRoot;
};

int RunPreviewCommand(const TArgs& args) {
  TParsedArgs p = ParseArgs(args, {"--output", "--page", "--scale"}, {"--rows"});
  if (p.Positional.size() != 1) throw ECliError(PREVIEW_USAGE);
  const TLayoutScale scale(DpiOfScale(p.Get("--scale", "1")));
  const int onlyPage = p.Has("--page") ? PageOfArg(p.Get("--page")) : -1;
  const std::string output = p.Get("--output", ".");
  const AnsiString input = ArgPath(p.Positional[0]);
  if (!FileExists(input)) throw ECliError("no such file: " + p.Positional[0]);
  // Every page is written, or none: the folder is checked before anything is drawn.
  std::error_code ec;
  std::filesystem::create_directories(output, ec);
  if (ec || access(output.c_str(), W_OK) != 0)
    throw ECliError("cannot write to " + output + ": " + (ec ? ec.message() : std::string(std::strerror(errno))));

  const bool setup = IsSetupFile(input);
  TIntfPtr<IProject> project;
  if (setup) {
    // As the setup program: no base folder, the project comes from the package.
    SetBaseFolder(AnsiString());
    project = TIntfPtr<IProject>(new TProject());
  } else {
    TBuildProject source;
    OpenBuildProject(p.Positional[0], {}, {}, source);
    project = source.Project;
  }
  TPrivateSandbox sandbox;
  TPagePainter painter(scale);
  // The caption bar's icon: the setup's own; for a project, the icon the build would put in,
  // which is the stub's when the project names none.
  AnsiString iconSource = input;
  if (!setup) {
    const AnsiString icon = project->GetProjectObject() ? project->GetProjectObject()->GetSetupIcon() : AnsiString();
    const TBuildOptions* options = project->GetBuildOptions();
    const bool x64 = options && options->X64;
    iconSource = !icon.empty() && FileExists(icon) ? icon : BaseFolder() + (x64 ? "Exe\\x64\\Setup.exe" : "Exe\\Setup.exe");
  }
  painter.SetWindowIcon(LoadWindowIcon(iconSource, painter.WindowIconSize()));
  TPictureCache pictures;
  const TPreviewRun run = RunPreview(project, setup ? input : AnsiString(), scale, painter.Measure(), pictures);

  for (const AnsiString& box : run.Boxes) std::printf("note: the setup says: %s\n", OneLine(box).c_str());
  for (const AnsiString& file : pictures.Undrawn())
    std::printf("note: no library here draws %s; its place is marked with an empty frame\n", Out(file).c_str());
  if (run.Silent) std::printf("the project installs without the wizard (安装界面显示 = 否): it shows no page\n");
  int written = 0;
  for (const TPreviewPage& page : run.Pages) {
    if (onlyPage >= 0 && page.Index != onlyPage) continue;
    const std::string file = (std::filesystem::path(output) / PictureName(page.Index)).string();
    try {
      painter.WritePng(page, ProgramPath(file));
    } catch (const Exception& e) {
      throw ECliError("cannot write " + file + ": " + Out(e.Message()));
    }
    if (p.Has("--rows")) PrintRows(page);
    else std::printf("wrote %s\n", file.c_str());
    ++written;
  }
  std::string skipped;
  for (int i : run.Skipped)
    if (onlyPage < 0 || onlyPage == i) skipped += " " + PictureName(i).substr(0, PictureName(i).size() - 4);
  if (!skipped.empty()) std::printf("skipped (the project does not show them):%s\n", skipped.c_str());
  if (onlyPage >= 0 && written == 0)
    throw ECliError("page " + std::to_string(onlyPage + 1) + " (" + PreviewPageName(onlyPage) + ") is not shown by this project");
  return 0;
}

#else

int RunPreviewCommand(const TArgs&) {
  throw ECliError("this gbsetup has no page drawing: preview is a feature of the Linux builder");
}

#endif

}  // namespace

GB_COMMAND("preview", "draw every wizard page of a setup or project as a picture",
           PREVIEW_USAGE "\n"
           "\n"
           "Fills the wizard from a built setup, a project file or a JSON project as the setup does and\n"
           "writes one PNG per page the project shows (1-welcome.png ... 9-finish.png; pages it hides\n"
           "are listed as skipped): captions, texts, pictures, licence and read-me, components with\n"
           "their sizes, the folders, the finish rows and the buttons as they read on each page. The\n"
           "progress page shows a run in mid-course. Nothing is installed; what a built setup unpacks\n"
           "goes to a private temporary folder that is removed. A picture the setup cannot show is\n"
           "left out and named, as the setup names it; one that no library here draws (emf) is\n"
           "marked with an empty frame.\n"
           "\n"
           "  --output DIR      where the pictures go (default: the current folder)\n"
           "  --page N|NAME     only that page: 1-9, or welcome, licence, readme, program-folder,\n"
           "                    components, install-folder, confirm, progress, finish\n"
           "  --scale S         the density: 1 (96 dpi, the default), 1.25, 1.5 or 2\n"
           "  --rows            print each page's rows instead of the pictures' names: page, name, kind,\n"
           "                    shown, sized to its text, rectangle (x,y,w,h), text; separated by tabs",
           RunPreviewCommand);
