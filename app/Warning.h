// The program's warning box, shared by start-up and both modes.
#pragma once

// Shows text (code page 932) in a box with the exclamation icon and an OK
// button. Throws what AfxMessageBox throws.
void ShowWarning(const char* text);
