// Setup.exe installs; it never builds a setup program nor shows a project's file list. Linked
// ahead of the libraries, these definitions are taken instead of the builder's, so what only
// the builder needs (zlib's compressor, the compression threads, the resource rewriter, the
// shell's icons) stays out of the stub.
#include "core/Exceptions.h"
#include "engine/Compile.h"
#include "system/SysKernel.h"

void TCompile::Compile() { throw ENotAvailable("安装程序本身不能生成安装程序"); }

// The project that the setup loads names every file's source path on the building machine.
// Where such a path exists (a setup tried where it was built) the shell's lookup of its icon
// costs about 3 ms a file under Wine, more than writing the file. No page shows those icons.
int32_t FileIconIndex(const AnsiString&, bool) { return 0; }
