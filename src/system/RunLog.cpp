#include "system/RunLog.h"

#include <memory>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace runlog {
namespace {
std::unique_ptr<TFileStream> gFile;
AnsiString gName;
}  // namespace

void Open(const AnsiString& file, const AnsiString& stem) {
  Close();
  if (!file.empty()) {
    gFile = std::make_unique<TFileStream>(file, fmCreate);
  } else {
    // The temporary folder is the user's: a name planted there ahead of us is passed over.
    AnsiString stamp = LocalTimeText();
    stamp = ReplaceAll(ReplaceAll(stamp, "-", ""), ":", "");
    stamp = ReplaceAll(stamp, " ", "-");
    const AnsiString base = TempFolder() + stem + " " + stamp;
    for (int n = 1;; ++n) {
      const AnsiString name = base + (n == 1 ? AnsiString() : " (" + IntToStr(n) + ")") + ".txt";
      try {
        gFile = std::make_unique<TFileStream>(name, fmCreateNew);
        break;
      } catch (const EFCreateError&) {
        if (n >= 100) throw;
      }
    }
  }
  gName = gFile->FileName();
  static const char kBom[] = "\xEF\xBB\xBF";
  gFile->Write(kBom, 3);
}

bool IsOpen() { return gFile != nullptr; }

const AnsiString& FileName() { return gName; }

void Write(const AnsiString& what, const AnsiString& subject, const AnsiString& outcome) {
  if (!gFile) return;
  AnsiString line = LocalTimeText() + " " + what + ": " + subject;
  if (!outcome.empty()) line += ": " + outcome;
  const std::string text = GbkToUtf8(ReplaceAll(ReplaceAll(line, "\r\n", " "), "\n", " ")) + "\r\n";
  try {
    gFile->Write(text.data(), text.size());
  } catch (const Exception&) {
    gFile.reset();  // a full disk ends the log, not the run
  }
}

void Close() { gFile.reset(); }
}  // namespace runlog

void AnswerBoxesByDefault() {
  auto responder = std::make_shared<TDialogResponder>();
  responder->MessageBox = [](TBoxStyle style, const AnsiString&, const AnsiString& text) {
    runlog::Write(style == TBoxStyle::Question ? "问题（默认回答“是”）" : "消息", text);
    return true;
  };
  SetDialogResponder(responder);
}
