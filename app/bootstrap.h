#pragma once
#include <windows.h>

// Locates and opens the embedded package and extracts "UPDATE.INI" to tempManifestPath.
// False ends the run with exit code 0 (any message has been shown).
bool RunBootstrap(HINSTANCE instance);

// Releases the package index, deletes the temporary manifest and removes the folder of its own
// that holds it; safe to call again.
void RemoveTempManifest();
