#include "app/Warning.h"

#include "afx/afx.h"

void ShowWarning(const char* text) { AfxMessageBox(text, MB_ICONEXCLAMATION); }
