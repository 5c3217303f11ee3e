#pragma once
// Global hot keys: a key combination pressed anywhere on the desktop reaches a window as a
// TWMHotKey message. On X11 the key is grabbed on the root window (with the CapsLock and
// NumLock variants); elsewhere registration fails.

#include <cstdint>
#include <string_view>

class TForm;

constexpr uint32_t MOD_ALT = 0x1;
constexpr uint32_t MOD_CONTROL = 0x2;
constexpr uint32_t MOD_SHIFT = 0x4;
constexpr uint32_t VK_F1 = 112;
constexpr uint32_t VK_F5 = 116;

// A process-wide table of named, reference-counted 16-bit identifiers (0xC000 and up).
uint16_t GlobalAddAtom(std::u16string_view name);
void GlobalDeleteAtom(uint16_t atom);

// Returns false, and changes nothing, when the key cannot be had: another program holds it,
// there is no X11 display, or the key is unknown.
bool RegisterHotKey(TForm* window, int32_t id, uint32_t modifiers, uint32_t virtualKey);
bool UnregisterHotKey(TForm* window, int32_t id);
