#pragma once
#include <windows.h>

// Reads the manifest's SETUP section, checks the installation, opens the wizard and returns the
// process exit code: 1 when the wizard ended with 0, else 0.
int RunInstallCheckAndWizard(HINSTANCE instance);
