#pragma once
// TFrm_ReleasePlan: the small modal dialog that releases the package appended to the
// setup program and shows its progress. It refuses to close until the release is done.
#include "core/SysIntfs.h"
#include "wizard/Controls.h"

class TFrm_ReleasePlan;

// Implemented by the dialog window.
class IReleasePlanView {
public:
  virtual ~IReleasePlanView() = default;
  virtual void ProgressChanged(const TControl& bar) = 0;
  // The label's text changed (checking the package, then unpacking it).
  virtual void CaptionChanged(const TControl& label) {}
  // Asks the dialog to close; the window consults FormCloseQuery.
  virtual void CloseDialog() = 0;
};

class TFrm_ReleasePlan {
public:
  static constexpr int kClientWidth = 382;
  static constexpr int kClientHeight = 104;
  static constexpr int kTimerInterval = 1000;  // ms

  explicit TFrm_ReleasePlan(TIntfPtr<IReleaseWork> releaseWork);

  void SetFileList(TInsPackList* list) { FFileList = list; }
  void SetView(IReleasePlanView* view) { FView = view; }

  // Runs the release. Returns when the release call has returned; an error it raised is
  // kept in ErrorText. The dialog is then asked to close at once, whether the release
  // reported completion or not (a damaged or empty package cannot leave it open).
  void FormShow();
  // A report with Flag true is the package check that comes before the release: the bar shows
  // it, the label says so, and it never marks the dialog done.
  void OnProgress(int32_t max, int32_t position, const AnsiString& text, bool flag);
  void Timer1Timer();
  bool FormCloseQuery() const { return Done(); }

  bool Done() const { return FTag == -1; }
  // True when the release reported position = max at least once.
  bool Completed() const { return FCompleted; }
  const AnsiString& ErrorText() const { return FErrorText; }
  bool Failed() const { return FFailed; }

  const AnsiString Caption = "初始化";
  static constexpr const char* kUnpackText = "正在解压安装文件,请稍候...";
  static constexpr const char* kCheckText = "正在校验安装文件,请稍候...";
  TControl Label1{"Label1", kUnpackText};
  TControl pRelease{"pRelease"};

private:
  TIntfPtr<IReleaseWork> FReleaseWork;
  TInsPackList* FFileList = nullptr;
  IReleasePlanView* FView = nullptr;
  int32_t FTag = 0;  // -1 once done
  bool FCompleted = false;
  bool FFailed = false;
  AnsiString FErrorText;
};
