#pragma once
#include <windows.h>

// Locates and opens the embedded package and extracts "UPDATE.INI" to tempManifestPath.
// False ends the run with exit code 0 (any message has been shown).
bool RunBootstrap(HINSTANCE instance);

// Releases the package index and deletes the temporary manifest; safe to call again.
void RemoveTempManifest();
