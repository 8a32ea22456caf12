#include "wizard/Layout.h"

#include <cstring>

namespace {
using K = TLayoutKind;
constexpr uint32_t T = lfTransparent, WW = lfWordWrap, B = lfBold;
}  // namespace

// Pages are laid out on their own client area (508 x 289); header strips sit at the top.
const TLayoutItem kLayout[] = {
    {"TFrm_Setup", K::Window, -1, nullptr, 0, 0, kWizardClientWidth, kWizardClientHeight, -12, 0, "“%s”安装向导"},

    // Page 0: welcome, on a borderless panel.
    {"nPage0", K::Page, 0, nullptr, 0, 0, 508, 289, -12, 0, "欢迎"},
    {"Image1", K::Picture, 0, nullptr, 0, 0, 508, 289, -12, 0, ""},
    {"LB_Head", K::Label, 0, nullptr, 167, 17, 330, 54, -16, B | T | WW, "欢迎使用“%s”安装向导"},
    {"LB_WelInfo", K::Label, 0, nullptr, 167, 77, 330, 28, -12, T | WW,
     "欢迎使用“%s”，这个向导将指引您完成对“%s”的安装进程。"},
    {"Label32", K::Label, 0, nullptr, 167, 118, 330, 60, -12, T | WW,
     "在开始安装之前，建议先关闭其它应用程序，这将使安装向导能顺利安装所有文件。\r\n\r\n点击[下一步(&N)>]将继续。"},
    {"lVersion", K::Label, 0, nullptr, 167, 205, 330, 38, -12, lfHidden | T | WW, ""},
    {"lLink", K::Link, 0, nullptr, 167, 256, 0, 0, -12, lfHidden | T, ""},

    // Page 1: licence agreement.
    {"nPage1", K::Page, 1, nullptr, 0, 0, 508, 289, -12, 0, "安装协议"},
    {"Img_Pro_Head", K::Picture, 1, nullptr, 0, 0, 508, 60, -12, lfStretch, ""},
    {"Label7", K::Label, 1, nullptr, 16, 11, 0, 0, -12, B | T, "软件许可协议书"},
    {"Lb_Pro_Head", K::Label, 1, nullptr, 43, 29, 0, 0, -12, T, "请在继续安装之前，详细阅读下面协议"},
    {"Label6", K::Label, 1, nullptr, 8, 66, 0, 0, -12, 0, "请仔细阅读该协议  按[PgDn]向上卷动页面"},
    {"Frame_m_Protected", K::Frame, 1, nullptr, 8, 89, 487, 156, -12, 0, ""},
    {"m_Protected", K::Memo, 1, nullptr, 9, 90, 485, 154, -12, lfReadOnly | lfVScroll | lfNoBorder, ""},
    {"Label5", K::Label, 1, nullptr, 8, 256, 486, 24, -12, WW,
     "如果您已仔细阅读，并同意该协议，单击[我同意(&N)]按钮继续安装，如果您选定取消, 安装程序将会关闭。必须要同意该协议才能安装"},

    // Page 2: read-me.
    {"nPage2", K::Page, 2, nullptr, 0, 0, 508, 289, -12, 0, "软件使用说明"},
    {"Image2", K::Picture, 2, nullptr, 0, 0, 508, 57, -12, lfStretch, ""},
    {"Label8", K::Label, 2, nullptr, 16, 13, 0, 0, -12, B | T, "软件自述说明"},
    {"Label15", K::Label, 2, nullptr, 40, 32, 0, 0, -12, T, "该信息是对软件使用的说明，请详细阅读。"},
    {"Label16", K::Label, 2, nullptr, 8, 66, 0, 0, -12, 0, "请仔细阅读该说明  按[PgDn]向上卷动页面"},
    {"Frame_m_ReadMe", K::Frame, 2, nullptr, 8, 86, 490, 173, -12, 0, ""},
    {"m_ReadMe", K::Memo, 2, nullptr, 9, 87, 488, 171, -12, lfReadOnly | lfVScroll | lfNoBorder, ""},
    {"Label17", K::Label, 2, nullptr, 8, 268, 0, 0, -12, 0,
     "如果你已仔细阅读，单击[下一步(&N)>]按钮继续安装，如果你选定取消, 安装程序将会关闭。"},

    // Page 3: program folder.
    {"nPage3", K::Page, 3, nullptr, 0, 0, 508, 289, -12, 0, "选择程序文件夹"},
    {"Image3", K::Picture, 3, nullptr, 0, 0, 508, 57, -12, 0, ""},
    {"Label12", K::Label, 3, nullptr, 16, 22, 0, 0, -12, B | T, "选择软件的程序文件夹"},
    {"Label24", K::Label, 3, nullptr, 10, 65, 486, 25, -12, WW,
     "安装向导将会把“%s”的快捷方式创建到程序文件夹中。您可以输入新的文件夹名称，或选择一个现有的文件夹，单击[下一步(&N)>]继续"},
    {"Label25", K::Label, 3, nullptr, 10, 98, 0, 0, -12, 0, "程序文件夹"},
    {"Edt_SelectFolder", K::Edit, 3, nullptr, 10, 115, 484, 20, -12, 0, ""},
    {"Label26", K::Label, 3, nullptr, 10, 143, 0, 0, -12, 0, "现有文件夹"},
    {"Frame_List_SelectShot", K::Frame, 3, nullptr, 10, 162, 481, 115, -12, 0, ""},
    {"List_SelectShot", K::List, 3, nullptr, 11, 163, 479, 113, -12, lfNoBorder | lfFixedRows | lfVScroll, ""},

    // Page 4: components.
    {"nPage4", K::Page, 4, nullptr, 0, 0, 508, 289, -12, 0, "选择安装组件"},
    {"Image5", K::Picture, 4, nullptr, 0, 0, 508, 57, -12, 0, ""},
    {"Label18", K::Label, 4, nullptr, 24, 15, 0, 0, -12, B | T, "选择安装组件"},
    {"Label19", K::Label, 4, nullptr, 48, 34, 0, 0, -12, T, "选择你要安装的哪些组件"},
    {"Label4", K::Label, 4, nullptr, 16, 80, 257, 0, -12, 0, "选择您想要安装的组件，点击[下一步]继续。"},
    {"Frame_List_Component", K::Frame, 4, nullptr, 16, 102, 382, 151, -12, 0, ""},
    {"List_Component", K::CheckList, 4, nullptr, 17, 103, 380, 149, -12, lfNoBorder | lfFixedRows | lfVScroll, ""},
    {"Label9", K::Label, 4, nullptr, 16, 264, 0, 0, -12, 0, "所需空间大小"},

    // Page 5: installation folder.
    {"nPage5", K::Page, 5, nullptr, 0, 0, 508, 289, -12, 0, "选择安装文件夹"},
    {"Image6", K::Picture, 5, nullptr, 0, 0, 508, 57, -12, 0, ""},
    {"Label10", K::Label, 5, nullptr, 16, 14, 0, 0, -12, B | T, "选择软件的安装目录"},
    {"Label11", K::Label, 5, nullptr, 29, 33, 0, 0, -12, T, "请选择安装目录，如不选择安装向导将选择默认的目录进行安装"},
    {"Label13", K::Label, 5, nullptr, 13, 73, 0, 0, -12, 0,
     "你可以更改此安装向导的安装目录，单击“下一步(&N)>”按钮开始安装软件"},
    {"GroupBox1", K::GroupBox, 5, nullptr, 13, 96, 468, 60, -12, 0, "安装文件夹"},
    {"eInsDir", K::Edit, 5, "GroupBox1", 8, 24, 367, 20, -12, 0, ""},
    {"bBrowse", K::Button, 5, "GroupBox1", 381, 22, 79, 22, -12, 0, "浏览(&B)..."},
    {"Label14", K::Label, 5, nullptr, 13, 184, 0, 0, -12, 0, "安装所需空间大小"},
    {"lNeedsSize", K::Label, 5, nullptr, 128, 184, 0, 0, -12, 0, ""},
    {"Label20", K::Label, 5, nullptr, 13, 208, 0, 0, -12, 0, "目标驱动器剩余空间"},
    {"lDrvSize", K::Label, 5, nullptr, 128, 208, 0, 0, -12, 0, ""},

    // Page 6: confirmation.
    {"nPage6", K::Page, 6, nullptr, 0, 0, 508, 289, -12, 0, "确认安装"},
    {"Image7", K::Picture, 6, nullptr, 0, 0, 508, 57, -12, 0, ""},
    {"Label22", K::Label, 6, nullptr, 16, 14, 0, 0, -12, B | T, "确认安装"},
    {"Label23", K::Label, 6, nullptr, 37, 33, 0, 0, -12, T, "确认之前所有的操作。"},
    {"Label27", K::Label, 6, nullptr, 8, 80, 433, 33, -12, WW,
     "点击[下一步]按钮后，本向导将开始进行安装操作。在安装过程中，请不要强制中断或是退出安装进程，否则会导致程序不能正常被卸载。"},

    // Page 7: progress.
    {"nPage7", K::Page, 7, nullptr, 0, 0, 508, 289, -12, 0, "安装进程"},
    {"Image8", K::Picture, 7, nullptr, 0, 0, 508, 57, -12, 0, ""},
    {"Label28", K::Label, 7, nullptr, 16, 15, 0, 0, -12, B | T, "安装向导正在进行安装，请稍候..."},
    {"Label29", K::Label, 7, nullptr, 45, 34, 0, 0, -12, T, "安装过程中，请不要强制退出安装向导。否则会导致文件安装不完整"},
    {"Label30", K::Label, 7, nullptr, 24, 89, 398, 14, -12, 0, ""},
    {"Label31", K::Label, 7, nullptr, 452, 90, 0, 0, -12, 0, ""},
    {"ProgressBar1", K::ProgressBar, 7, nullptr, 24, 111, 446, 19, -12, 0, ""},
    {"mInstall", K::DetailList, 7, nullptr, 23, 136, 447, 142, -12, lfHidden | lfReadOnly | lfVScroll, ""},

    // Page 8: finish, on a white panel.
    {"nPage8", K::Page, 8, nullptr, 0, 0, 508, 289, -12, lfWhite, "安装完成"},
    {"Image9", K::Picture, 8, nullptr, 0, 0, 508, 289, -12, 0, ""},
    {"Lb_Insted_Prog", K::Label, 8, nullptr, 171, 28, 302, 45, -16, B | T | WW, "“%s”安装向导已完成安装"},
    {"lFinished", K::ReportList, 8, nullptr, 171, 76, 317, 189, -12, lfNoBorder, ""},

    // Below the notebook.
    {"Bevel1", K::Bevel, -1, nullptr, 0, 289, 508, 2, -12, 0, ""},
    {"bPrevious", K::Button, -1, nullptr, 231, 302, 79, 20, -12, 0, "<上一步(&B)"},
    {"bNext", K::Button, -1, nullptr, 315, 302, 79, 20, -12, lfDefault, "下一步(&N)>"},
    {"bCancel", K::Button, -1, nullptr, 414, 302, 79, 20, -12, lfCancel, "取消(&C)"},
};
const size_t kLayoutCount = sizeof(kLayout) / sizeof(kLayout[0]);

const TLayoutItem* FindLayoutItem(const char* name) {
  for (const TLayoutItem& item : kLayout)
    if (std::strcmp(item.Name, name) == 0) return &item;
  return nullptr;
}

const char* LayoutCaption(const char* name) {
  const TLayoutItem* item = FindLayoutItem(name);
  return item ? item->Caption : "";
}
