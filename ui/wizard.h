#pragma once
#include <windows.h>

INT_PTR CALLBACK WizardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void ShowWelcomePage(HWND wizard);
void ShowReadyPage(HWND wizard);
