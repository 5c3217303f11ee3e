#pragma once
// Starting other programs: the desktop's handler for a document or web address, and a program
// file as a process of its own.

#include <string_view>

// Hands the text (a web address or a file) to the desktop's default action for it, through
// "xdg-open" found on PATH. Returns false when no handler could be started; whether the handler
// then succeeds is not looked at.
bool ShellOpenDocument(std::u16string_view document);

// Starts the program file at `path` with no arguments, this program's environment and its
// current folder as the working folder. The process is not waited for and leaves no zombie
// behind; it lives on in a session of its own when this program ends. Returns false when the
// file could not be run (missing, not executable, not a program).
bool StartDetachedProcess(std::u16string_view path);
