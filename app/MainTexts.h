#pragma once
// The texts of the main window that are picked at the moment of use, by the language that
// CurrentUiLanguage gives then.

#include <string>

#include "toolz/Toolz.h"

// The caption of the path label: the web-address text in WWW mode, else the program-path text.
std::u16string PathToClientCaption(TUiLanguage language, bool webMode);
// "Om" or "About": the About box caption is this word, a blank and the application title.
std::u16string AboutCaptionWord(TUiLanguage language);
// The About box message: who wrote the program, with the maker's web address.
std::u16string AboutCreditLine(TUiLanguage language);
