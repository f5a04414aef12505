#pragma once
#include <windows.h>

// The wizard's third step: applies the manifest's UPDATE section and leaves the page on its
// outcome, or ends the dialog with -1.
void RunUpdatePage(HWND wizard);
