#pragma once
// Section UPDATE of the temporary manifest, read anew by every run of the update page.

// Rebuilds the UPDATE fields of g_updater.manifest from the manifest at
// g_updater.tempManifestPath, filtering the entries by g_updater.installRecord.instMode:
// RequiredDiskSpace (a negative number counts as 0: no check), OverwriteOnly, then the lists
// UpdateFile00.. and CopyFile00.., each up to its first missing or empty key and at most 16 keys.
// Reports nothing itself: it runs after g_updater.silentMissingKeys has been set.
void ReadUpdateSection();
