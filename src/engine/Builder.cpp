// The package builder.
#include "engine/Compile.h"

void TCompile::Compile() { throw ENotAvailable("Compile is not available yet"); }
