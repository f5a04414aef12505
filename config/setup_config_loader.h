#pragma once
// The installed game's SETUP.INI (g_updater.setupIniPath), section SETUP.

// Reads and checks every key in order into g_updater.setupConfig, and replaces companyName,
// gameTitle, gameDir and gameClass of g_updater.manifest with the file's values. Stops at the
// first absent required key (reported only while g_updater.silentMissingKeys is 0) or invalid
// value (always reported, caption "INSTCMMN") and returns false; what was written stays.
// Sets g_updater.silentMissingKeys before the optional keys.
bool LoadSetupConfig();
