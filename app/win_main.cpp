// The updater's only entry point: the bootstrap, then the installation check and the wizard,
// and one exit for every path.
#include <windows.h>

#include "app/bootstrap.h"
#include "app/install_check.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int exitCode = 0;  // 1 only when the wizard completed the update
  if (RunBootstrap(instance)) exitCode = RunInstallCheckAndWizard(instance);
  RemoveTempManifest();
  return exitCode;
}
