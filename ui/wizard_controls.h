#pragma once
#include <windows.h>

// Formats with wvsprintfA rules into 1024 bytes (longer output is cut) and sets control 1001.
void SetInfoText(HWND wizard, const char* format, ...);
// Enables or disables a control; one the template lacks is passed over.
void EnableItem(HWND wizard, int controlId, bool enable);
// SW_SHOW or SW_HIDE; a control the template lacks is passed over.
void ShowItem(HWND wizard, int controlId, int showCommand);
