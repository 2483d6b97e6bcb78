#pragma once

#include <Qt>

namespace qtfront {

// A key as FormKeyUp takes it: the Windows key code and the ss* flags.
struct FormKey {
    int Key = 0;
    unsigned Shift = 0;
};

// False for keys without a Windows key code (modifier keys alone, for one).
// Ctrl+Shift+F10, F11 and F12 come out as Ctrl+Alt (see the source).
bool ToFormKey(int qtKey, Qt::KeyboardModifiers modifiers, FormKey& key);

} // namespace qtfront
