#include "afx/afx.h"
#include "platform/platform.h"

#include <utility>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

int AfxMessageBox(const char* text, unsigned type, unsigned /*helpId*/) {
    if (Handler()) return Handler()(text, type);
    return plat::ShowMessageBox(text, type);
}
