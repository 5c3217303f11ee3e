#include "shell/win32/SystemHotKeys.h"

#include "shell/win32/Win32Bridge.h"

uint16_t AddSystemAtom(std::u16string_view name) {
    return GlobalAddAtomW(ToWide(name).c_str());
}

void DeleteSystemAtom(uint16_t atom) {
    GlobalDeleteAtom(atom);
}

bool RegisterSystemHotKey(TForm* window, int32_t id, uint32_t modifiers, uint32_t virtualKey) {
    return RegisterHotKey(window->Handle()->window, id, modifiers, virtualKey) != FALSE;
}

bool UnregisterSystemHotKey(TForm* window, int32_t id) {
    return UnregisterHotKey(window->Handle()->window, id) != FALSE;
}
