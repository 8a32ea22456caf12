#include "wizard/preview/Preview.h"

#include "engine/Compile.h"
#include "project/Project.h"
#include "system/Dialogs.h"

namespace {

// The progress page as a run in mid-course shows it: the installation's reports (entry count,
// position, the file just written) for the first half of the program files.
void PlayProgress(TFrm_Setup& form, const TIntfPtr<IProject>& project, const TInsPackList& list) {
  TIntfPtr<IProjectFiles> files = Supports<IProjectFiles>(project);
  const int32_t max = list.Count();
  std::vector<AnsiString> targets;
  if (files)
    for (TFileInfoRec* rec : *files->GetFileList()) targets.push_back(ProgramFileTarget(*rec, form.eInsDir.Caption));
  if (targets.empty()) return form.OnInstallProgress(max, max / 2, AnsiString(), false);
  int32_t position = 1;  // the run counts from the entry before the first program file
  for (size_t i = 0; i < (targets.size() + 1) / 2; ++i) form.OnInstallProgress(max, ++position, targets[i], false);
}

}  // namespace

const char* PreviewPageName(int index) {
  static const char* const names[TFrm_Setup::kPageCount] = {"welcome",        "licence", "readme",   "program-folder", "components",
                                                            "install-folder", "confirm", "progress", "finish"};
  return index >= 0 && index < TFrm_Setup::kPageCount ? names[index] : "";
}

TPreviewRun RunPreview(const TIntfPtr<IProject>& project, const AnsiString& setupFile, const TLayoutScale& scale,
                       const TTextMeasure& measure, TPictureCache& pictures) {
  TPreviewRun run;
  // The boxes the setup would show are kept, not asked.
  struct TResponder {
    std::shared_ptr<TDialogResponder> Previous = DialogResponder();
    ~TResponder() { SetDialogResponder(Previous); }
  } restore;
  auto responder = std::make_shared<TDialogResponder>();
  responder->MessageBox = [&run](TBoxStyle, const AnsiString&, const AnsiString& text) {
    run.Boxes.Add(text);
    return false;
  };
  SetDialogResponder(responder);

  TIntfPtr<ICompile> compile(new TCompile());
  // The form removes what the release unpacked when it goes; the pages keep their pictures.
  TFrm_Setup form(project, compile);
  TPreviewView view(form, scale, measure, pictures);
  TInsPackList& list = form.FileList();
  if (!setupFile.empty()) {
    QueryIntf<IReleaseWork>(compile)->ReleaseFiles(setupFile, list, nullptr);
    if (list.Count() < 2) throw Exception("安装程序中没有可用的安装数据，安装文件可能已损坏。");
  } else {
    // The entries a build would pack, with the sizes the files have now.
    TInsPackRec* image = list.Add();
    image->Name = project->GetProjectObject() ? project->GetProjectObject()->FFileName : AnsiString();
    CollectPayloadEntries(project, list, true);
    list.Add()->Kind = pkUninstaller;
  }
  form.FillPagesFromProject();
  run.Silent = form.IsSilentInstall();
  std::vector<bool> shown(TFrm_Setup::kPageCount, false);
  if (!run.Silent)
    for (int i = 0; i >= 0; i = form.NextShownPage(i, true)) shown[static_cast<size_t>(i)] = true;
  for (int i = 0; i < TFrm_Setup::kPageCount; ++i) {
    if (!shown[static_cast<size_t>(i)]) {
      run.Skipped.push_back(i);
      continue;
    }
    form.SetPageIndex(i);
    if (i == TFrm_Setup::kProgressPage) PlayProgress(form, project, list);
    run.Pages.push_back(view.Snapshot(i));
  }
  return run;
}
