#include "toolz/ShellToolz.h"

#include "shell/Launch.h"

void ShellOpen(std::u16string_view text) {
    if (text.empty())
        return;
    ShellOpenDocument(text);
}
