#pragma once
// The DLL search restriction of RestrictDllSearch, with its fallback reachable for tests.

// allowDefaultDirectories: use SetDefaultDllDirectories where Windows has it (true for the
// programs); false takes the way of a Windows without it: the current folder leaves the search
// and the DLLs that Windows' own libraries load later are loaded from the system folder first.
// True when the process now searches the system folder only.
bool UseSystemFolderForDlls(bool allowDefaultDirectories);
