#include "afx/afx.h"
#include "afx/win32/Text.h"

int AfxMessageBox(unsigned idPrompt, unsigned type, unsigned helpId) {
    return AfxMessageBox(AfxNarrow(AfxLoadString(idPrompt).c_str()).c_str(), type, helpId);
}
