#include "frontends/qt/FormKeys.h"

#include "app/Updatemain.h"

namespace qtfront {

bool ToFormKey(int qtKey, Qt::KeyboardModifiers modifiers, FormKey& key) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        key.Key = app::VK_F1 + (qtKey - Qt::Key_F1);
    } else if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) ||
               (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        key.Key = qtKey; // the same codes as on Windows
    } else if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter) {
        key.Key = app::VK_RETURN;
    } else if (qtKey == Qt::Key_Escape) {
        key.Key = app::VK_ESCAPE;
    } else if (qtKey == Qt::Key_Space) {
        key.Key = app::VK_SPACE;
    } else {
        return false;
    }
    key.Shift = 0;
    if (modifiers & Qt::ShiftModifier) {
        key.Shift |= app::ssShift;
    }
    if (modifiers & Qt::AltModifier) {
        key.Shift |= app::ssAlt;
    }
    if (modifiers & Qt::ControlModifier) {
        key.Shift |= app::ssCtrl;
    }
    // X servers and compositors take Ctrl+Alt+F1..F12 for switching consoles,
    // so the window never sees them: Ctrl+Shift stands in for Ctrl+Alt there.
    const bool serviceKey =
        key.Key == app::VK_F10 || key.Key == app::VK_F11 || key.Key == app::VK_F12;
    if (serviceKey && key.Shift == (app::ssCtrl | app::ssShift)) {
        key.Shift = app::ssCtrl | app::ssAlt;
    }
    return true;
}

} // namespace qtfront
