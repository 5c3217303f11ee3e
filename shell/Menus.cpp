// The parts of the menus that every desktop back-end shares.

#include "shell/Menus.h"

#include "shell/Application.h"

void TMenuItem::Click() {
    if (onClick_)
        Application->Guarded([this] { onClick_(this); });
}

TMainMenu::TMainMenu(TForm* owner) : owner_(owner) {}
