// Setup.exe installs; it never builds a setup program nor shows a project's file list. Linked
// ahead of the libraries, these definitions are taken instead of the builder's, so what only
// the builder needs (zlib's compressor, the compression threads, the resource rewriter, the
// shell's icons, the project editing) stays out of the stub.
#include "core/Exceptions.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/SysKernel.h"

void TCompile::Compile() { throw ENotAvailable("安装程序本身不能生成安装程序"); }

// The project that the setup loads names every file's source path on the building machine.
// Where such a path exists (a setup tried where it was built) the shell's lookup of its icon
// costs about 3 ms a file under Wine, more than writing the file. No page shows those icons.
int32_t FileIconIndex(const AnsiString&, bool) { return 0; }

// Editing a project is the designer's: the setup loads its project and never changes its
// trees, so neither the editing operations nor what they use (the file dialog, the folder
// scan) come into the stub.
namespace {
[[noreturn]] void NoEditing() { throw ENotAvailable("安装程序本身不能编辑项目"); }
}  // namespace
bool TProject::AddFiles(const AnsiString&, AnsiString&) { NoEditing(); }
bool TProject::AddFolder(const AnsiString&) { NoEditing(); }
bool TProject::DeleteDirectory(TDirectoryInfoRec*) { NoEditing(); }
bool TProject::RenameDirectory(TDirectoryInfoRec*, const AnsiString&) { NoEditing(); }
void TProject::ImportComponent(const AnsiString&, const AnsiString&, const TStringList&) { NoEditing(); }
bool TProject::DeleteComponent(const AnsiString&) { NoEditing(); }
