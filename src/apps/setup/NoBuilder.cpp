// Setup.exe installs; it never builds a setup program. Linked ahead of the engine library,
// this definition is taken instead of the builder's, so the builder and what only it needs
// (zlib's compressor, the compression threads, the resource rewriter) stay out of the stub.
#include "core/Exceptions.h"
#include "engine/Compile.h"

void TCompile::Compile() { throw ENotAvailable("安装程序本身不能生成安装程序"); }
