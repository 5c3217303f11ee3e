#pragma once
// Files, folders and processes for the settings tests.

#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/TemporaryFolder.h"

// A fresh folder for one test, removed with everything in it.
class TTempFolder : public TemporaryFolder {
public:
    TTempFolder() : TemporaryFolder("bg-settings") {}
    std::u16string File(const std::string& name) const;
};

std::string ReadBytes(const std::u16string& path);
void WriteBytes(const std::u16string& path, const std::string& bytes);
bool Exists(const std::u16string& path);

// Runs `body` in a child process without root's privileges (as the user nobody when the tests
// run as root) and returns what it produced; the child's failure ends the test with a message.
std::string RunUnprivileged(const std::function<std::string()>& body);

// The seven settings stored the way the program stores them, with `round` in every value.
void StoreSevenSettings(const std::u16string& file, int round);
