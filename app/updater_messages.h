#pragma once
// The updater's error box: modal, owned by the wizard while it exists, captioned captionText,
// with the error icon and an OK button. What the user presses is not examined.
void ShowUpdaterError(const char* text);
