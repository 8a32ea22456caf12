#pragma once
// TFrm_Setup: the setup program's main window, a nine-page wizard. This is its state and
// rules; a view draws the controls (src/wizard/win32 on Windows, a double in tests).
#include <array>
#include <memory>

#include "core/IniData.h"

#include "core/SysIntfs.h"
#include "system/SysKernel.h"
#include "wizard/Controls.h"
#include "wizard/Layout.h"
#include "wizard/ReleasePlanForm.h"
#include "wizard/SetupSwitches.h"

class TFrm_Setup;

class ISetupView {
public:
  virtual ~ISetupView() = default;
  virtual void ControlChanged(const TControl& control) = 0;
  // The notebook shows page index.
  virtual void PageChanged(int index) = 0;
  // One line was added at the end of a memo (mInstall). The window appends it to what it shows;
  // the text is not set again as a whole, so a report costs the same at any count.
  virtual void LineAdded(const TControl& memo, const AnsiString& line) = 0;
  // A list with check boxes (List_Component, lFinished) was rebuilt or changed.
  virtual void RowsChanged(const char* listName) = 0;
  // Shows the unpack dialog modally; returns once it has closed.
  virtual void ShowReleaseDialog(TFrm_ReleasePlan& dialog) = 0;
  // The close request was granted: take the window down and end the message loop.
  virtual void DestroyWindow() = 0;
  // False while the view has no interactive pages: every project then installs at once.
  virtual bool HasInteractivePages() const = 0;
};

class TFrm_Setup {
public:
  static constexpr int kClientWidth = kWizardClientWidth;
  static constexpr int kClientHeight = kWizardClientHeight;
  static constexpr int kPageCount = 9;
  static constexpr int kProgressPage = kPageCount - 2;
  static constexpr int kFinishPage = kPageCount - 1;
  // Notebook captions, which identify the pages at run time.
  static const std::array<const char*, kPageCount> PageCaptions;
  // The Page value of the project's page items for each page.
  static const std::array<const char*, kPageCount> ItemPages;

  // Takes the project and the engine (TProject, TCompile); hands the project to the engine.
  TFrm_Setup(TIntfPtr<IProject> project, TIntfPtr<ICompile> compile, ISetupView* view = nullptr);
  ~TFrm_Setup();
  TFrm_Setup(const TFrm_Setup&) = delete;
  TFrm_Setup& operator=(const TFrm_Setup&) = delete;

  void SetView(ISetupView* view) { FView = view; }
  // The command line's switches: an unattended run installs with the defaults at once.
  void SetSwitches(const TSetupSwitches& switches) { FSwitches = switches; }
  const TSetupSwitches& Switches() const { return FSwitches; }
  // A folder the installation can be put in: a full path on a drive or a share, each level a
  // valid name, shorter than the system's path limit.
  static bool ValidInstallFolder(const AnsiString& folder);

  // First show: unpack, fill the pages, and install at once when the project is silent.
  void FormShow();
  bool IsSilentInstall();
  int NextShownPage(int current, bool forward);
  void StartInstallation();
  void OnInstallProgress(int32_t max, int32_t position, const AnsiString& text, bool flag);

  void bNextClick();
  void bPreviousClick();
  void bCancelClick();
  // Any close request: granted requests destroy the window through the view.
  void Close();
  bool FormCloseQuery();

  int PageIndex() const { return FPageIndex; }
  // Moves the notebook; -1 or the current page changes nothing.
  void SetPageIndex(int index);
  void nPagesPageChanged();

  void FillPagesFromProject();
  void ApplyProjectName(const AnsiString& name);
  AnsiString FindPageItem(const AnsiString& page, const AnsiString& name);
  void FillExistingFolders();
  void List_SelectShotClick(int row);
  void FillComponents();
  // After the user toggled a component's check box.
  void List_ComponentClickCheck();
  void eInsDirChange();
  // The folder picker for the installation folder, starting at the current one.
  void bBrowseClick();
  // The user typed into an edit; the view hands the new text over.
  void EditChanged(TControl& edit, const AnsiString& text);
  void ShowNeededSize(int64_t size);
  int64_t InitialNeededSize();
  int64_t BaseSize();
  int64_t ComponentSize(const AnsiString& name);
  static AnsiString SizeText(int64_t count);

  const AnsiString& ProjectName() const { return FProjectName; }
  int64_t NeededSize() const { return FNeededSize; }
  bool RebootOffered() const { return FRebootOffered; }
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult r) { FModalResult = r; }
  TInsPackList& FileList() { return FFileList; }
  const TIntfPtr<IProject>& Project() const { return FProject; }
  const TIntfPtr<ICompile>& Compile() const { return FCompile; }
  bool Closed() const { return FClosed; }
  // Set when unpacking or a silent installation failed; the error box has been shown.
  bool Failed() const { return FFailed; }
  // What the program ends with (core/ExitCodes.h): 0, 1602 cancelled, 1603 failed and undone,
  // 1618 another run of the product held its lock, 87 a switch value the project cannot take,
  // 3010 / 1641 a restart needed / started, 1 for a failure before the installation.
  int ExitCode() const;

  // The control of that name that this logic drives; null for fixed ones (plain labels, frames).
  TControl* FindControl(const char* name);
  // A list with check boxes by name (List_Component, lFinished); null for others.
  std::vector<TCheckRow>* FindRows(const char* name);
  void lLinkClick();

  // Default captions come from the layout table (Layout.cpp).
  TControl Form{"TFrm_Setup"};  // caption pattern: %s is the project name
  TControl bPrevious{"bPrevious"};
  TControl bNext{"bNext"};
  TControl bCancel{"bCancel"};
  // Page 0
  TControl Image1{"Image1"};  // pictures: the caption is the file shown, empty for none
  TControl LB_Head{"LB_Head"};
  TControl LB_WelInfo{"LB_WelInfo"};
  TControl Label32{"Label32"};
  TControl lVersion{"lVersion"};
  TControl lLink{"lLink"};
  // Page 1
  TControl Img_Pro_Head{"Img_Pro_Head"};
  TControl m_Protected{"m_Protected"};
  // Page 2
  TControl Image2{"Image2"};
  TControl m_ReadMe{"m_ReadMe"};
  // Page 3
  TControl Image3{"Image3"};
  TControl Label24{"Label24"};
  TControl Edt_SelectFolder{"Edt_SelectFolder"};
  TStringList List_SelectShot;
  // Page 4
  TControl Image5{"Image5"};
  TControl Label9{"Label9"};
  std::vector<TCheckRow> List_Component;
  // Page 5
  TControl Image6{"Image6"};
  TControl eInsDir{"eInsDir"};
  TControl bBrowse{"bBrowse"};
  TControl lNeedsSize{"lNeedsSize"};
  TControl lDrvSize{"lDrvSize"};
  // Page 6
  TControl Image7{"Image7"};
  // Page 7
  TControl Image8{"Image8"};
  TControl Label30{"Label30"};
  TControl Label31{"Label31"};
  TControl ProgressBar1{"ProgressBar1"};
  // Hidden until the project asks for the details; its lines live in the view only.
  TControl mInstall{"mInstall"};
  // Page 8
  TControl Image9{"Image9"};
  TControl Lb_Insted_Prog{"Lb_Insted_Prog"};
  std::vector<TCheckRow> lFinished;

  // Finish page: actions
  // Runs the ticked rows of lFinished in order (SubItems[0] the code: 0 main program,
  // 1 desktop, 2 start menu, 3 quick-launch links, 4 the read-me in SubItems[1]). A link that
  // cannot be made is skipped; links the writer failed on are named in one error box at the end.
  // startPrograms false (an unattended run): the links only.
  void RunFinishActions(bool startPrograms = true);
  // base\subfolder\name.lnk: a missing folder is made through the engine (so it is logged), an
  // existing link is kept, and the link is logged either way. A name, target or subfolder that
  // forms no valid path, or a folder that cannot be made, skips the link. Raises what the
  // link writer raises.
  void CreateShortcutIn(const AnsiString& base, const AnsiString& subfolder, const AnsiString& name,
                        const AnsiString& target, const AnsiString& arguments, const AnsiString& description);
  // The shell link file folder\fileName (shown normally, working folder = the target's folder).
  void CreateLinkFile(const AnsiString& folder, const AnsiString& fileName, const AnsiString& target,
                      const AnsiString& arguments, const AnsiString& description);
  // Opens path with the shell ("Open", working folder = the path's folder, shown normally).
  // A file of the temporary folder is removed when the window goes: the program that opens
  // it is given a few seconds to read it first.
  static void OpenWithShell(const AnsiString& path);
  // Removes what the engine's release wrote below the temporary folder: its files, then the
  // folders it made for them, once empty. The window does it when it goes, on every way out;
  // nothing else is touched.
  static void RemoveReleasedFiles(const TIntfPtr<ICompile>& compile);
  void RebootSystem();

private:
  void CreatePlaceShortcuts(int code);
  TStringList FLinkErrors;  // links the writer failed on during one RunFinishActions
  AnsiString FLinkErrorText;

private:
  void Changed(const TControl& c);
  void InstallWithoutPages();
  // /DIR and /COMPONENTS over the project's defaults; false (with the box) when one cannot be.
  bool ApplySwitches();
  void Fail(const AnsiString& message);
  // Every control above, for the view and for lookups by name.
  std::vector<TControl*> Controls();
  void ShowPicture(TControl& picture, const AnsiString& page, const AnsiString& fileName);
  void LoadLines(TControl& memo, const AnsiString& fileName);
  void AddFinishRow(const AnsiString& caption, const char* code, const AnsiString& file = AnsiString());

  TIntfPtr<IProject> FProject;
  TIntfPtr<ICompile> FCompile;
  ISetupView* FView = nullptr;
  TInsPackList FFileList;
  std::unique_ptr<TIniData> FCatalogue;  // the component catalogue's sizes, read on first use
  AnsiString FCatalogueName;
  AnsiString FProjectName;
  int64_t FNeededSize = 0;
  bool FRebootOffered = false;
  int FPageIndex = 0;
  TModalResult FModalResult = mrNone;
  bool FClosed = false;
  bool FFailed = false;
  bool FBusy = false;              // another run of the product holds the lock
  bool FBadSwitch = false;         // /DIR or /COMPONENTS named what the project cannot take
  TSetupSwitches FSwitches;
  std::unique_ptr<TProductLock> FRunLock;  // held from the release until the window goes
  bool FInstallStarted = false;  // the installation run began (a failure since was undone)
  bool FRestarting = false;      // the user let the wizard restart Windows
  bool FInstalled = false;  // the installation run went through
  bool FLogSaved = false;   // and its log is on disk
};
