#include "app/updater_messages.h"

#include "app/updater_state.h"

void ShowUpdaterError(const char* text) {
  MessageBoxA(g_updater.mainWindow, text, g_updater.captionText, MB_OK | MB_ICONERROR);
}
