#include "afx/afx.h"

namespace {
// A string resource holds at most this many characters; one more for the
// terminator.
constexpr int kMaxResourceString = 4096;
}  // namespace

int AfxMessageBox(unsigned idPrompt, unsigned type, unsigned helpId) {
    char text[kMaxResourceString + 1] = "";
    // LoadStringA leaves the buffer terminated (empty when the id is absent).
    ::LoadStringA(::GetModuleHandleA(nullptr), idPrompt, text, sizeof text);
    return AfxMessageBox(static_cast<const char*>(text), type, helpId);
}
