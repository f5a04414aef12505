#include "app/updater_state.h"

#include <cstring>

UpdaterState g_updater;

void ResetUpdaterState() {
  std::memset(&g_updater, 0, sizeof g_updater);
  lstrcpynA(g_updater.captionText, "UPDATE", sizeof g_updater.captionText);
}

namespace {
struct StartValues {
  StartValues() { ResetUpdaterState(); }
} startValues;
}  // namespace
