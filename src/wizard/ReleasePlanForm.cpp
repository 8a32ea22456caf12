#include "wizard/ReleasePlanForm.h"

#include "system/SysKernel.h"

TFrm_ReleasePlan::TFrm_ReleasePlan(TIntfPtr<IReleaseWork> releaseWork) : FReleaseWork(std::move(releaseWork)) {
  pRelease.Max = 100;
  pRelease.Position = 0;
}

void TFrm_ReleasePlan::FormShow() {
  try {
    if (!FReleaseWork || !FFileList) throw Exception("安装程序无法读取安装数据。");
    FReleaseWork->ReleaseFiles(ApplicationExeName(), *FFileList,
                               [this](int32_t max, int32_t position, const AnsiString& text, bool flag) {
                                 OnProgress(max, position, text, flag);
                               });
  } catch (const Exception& e) {
    FFailed = true;
    FErrorText = e.Message();
  } catch (const std::exception& e) {
    FFailed = true;
    FErrorText = e.what();
  }
  // The release has returned: nothing is left to show, so the dialog goes now rather than
  // at the timer's next tick, up to a second of a window that waits for nothing. A release
  // that never reported completion must not leave it open either.
  FTag = -1;
  if (FView) FView->CloseDialog();
}

void TFrm_ReleasePlan::OnProgress(int32_t max, int32_t position, const AnsiString& text, bool flag) {
  const char* label = flag ? kCheckText : kUnpackText;
  if (Label1.Caption != label) {
    Label1.Caption = label;
    if (FView) FView->CaptionChanged(Label1);
  }
  pRelease.Max = max;
  pRelease.Position = position;
  if (position == max && !flag) {
    FTag = -1;
    FCompleted = true;
  }
  if (FView) FView->ProgressChanged(pRelease);
}

void TFrm_ReleasePlan::Timer1Timer() {
  if (Done() && FView) FView->CloseDialog();
}
