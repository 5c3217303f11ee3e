// The shell's hot keys are the system's own: a pressed key arrives as WM_HOTKEY at the form.

#include "shell/HotKey.h"

#include "shell/win32/SystemHotKeys.h"

uint16_t GlobalAddAtom(std::u16string_view name) {
    return AddSystemAtom(name);
}

void GlobalDeleteAtom(uint16_t atom) {
    DeleteSystemAtom(atom);
}

bool RegisterHotKey(TForm* window, int32_t id, uint32_t modifiers, uint32_t virtualKey) {
    return RegisterSystemHotKey(window, id, modifiers, virtualKey);
}

bool UnregisterHotKey(TForm* window, int32_t id) {
    return UnregisterSystemHotKey(window, id);
}
