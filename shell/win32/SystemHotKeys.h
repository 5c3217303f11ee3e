#pragma once
// The system's atoms and hot keys for win32/HotKey.cpp, which implements shell/HotKey.h: that
// header's names are the system's own, so it cannot be compiled beside <windows.h>, and this
// header does without it.

#include <cstdint>
#include <string_view>

class TForm;

uint16_t AddSystemAtom(std::u16string_view name);
void DeleteSystemAtom(uint16_t atom);
// WM_HOTKEY reaches the form's window.
bool RegisterSystemHotKey(TForm* window, int32_t id, uint32_t modifiers, uint32_t virtualKey);
bool UnregisterSystemHotKey(TForm* window, int32_t id);
