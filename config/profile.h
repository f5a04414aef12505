#pragma once
// Profile (INI) readers over GetPrivateProfileStringA. Each clears all capacity bytes of value
// first; a missing key, an empty value and a missing file all give false and, while
// g_updater.silentMissingKeys is zero, the missing-key message (caption "INSTCMMN"). A value
// longer than capacity - 1 bytes is cut to the whole code page 932 characters that fit and
// counts as found.
#include <cstddef>
#include <cstdint>

// Section "SETUP" of the installed game's SETUP.INI (g_updater.setupIniPath).
bool ReadSetupString(const char* key, char* value, std::size_t capacity);
// Any section of the temporary manifest (g_updater.tempManifestPath).
bool ReadProfileString(const char* section, const char* key, char* value, std::size_t capacity);
// ReadSetupString into 20 bytes, then a signed decimal (stopping at the 32-bit limits); out
// untouched on false.
bool ReadSetupInt(const char* key, std::int32_t* out);
// Modal error box captioned "INSTCMMN", owned by g_updater.mainWindow.
void ShowSetupError(const char* text);
