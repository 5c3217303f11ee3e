#include "toolz/ShellToolz.h"

#include "shell/ShellAPI.h"

void ShellOpen(std::u16string_view text) {
    if (text.empty())
        return;
    ShellOpenDocument(text);
}
