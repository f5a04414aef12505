#pragma once
// Restricts the DLL search of the whole process to the system folder: the updater runs with
// administrator rights from wherever it was downloaded, so a DLL placed beside it (or in the
// current folder) under a system DLL's name must never be loaded, neither by the updater nor
// by what the shell and COM load later on its behalf. Runs while the C runtime starts the
// process, before WinMain (system_imports.cpp); calling it again changes nothing.
void RestrictDllSearchToSystemFolder();
