#pragma once
// The texts of the main window that are picked at the moment of use, by the language that
// CurrentUiLanguage gives then.

#include <string>

#include "signin/RedirectListener.h"
#include "signin/TokenStore.h"
#include "toolz/Toolz.h"

// The server label's caption for the protocol chosen: POP3's, or IMAP's.
std::u16string ServerCaption(TUiLanguage language, bool imap);
// The caption of the path label: the web-address text in WWW mode, else the program-path text.
std::u16string PathToClientCaption(TUiLanguage language, bool webMode);
// "Om" or "About": the About box caption is this word, a blank and the application title.
std::u16string AboutCaptionWord(TUiLanguage language);
// The About box message: who wrote the program, with the maker's web address.
std::u16string AboutCreditLine(TUiLanguage language);

// The sign-in group's state line.
enum TSignInState : uint8_t { ssSignedOut, ssWaiting, ssSignedIn, ssSignInAgain, ssFailed };
// failure: the failed sign-in's reason (ssFailed), or the sentence of SignInAgainReason
// (ssSignInAgain).
std::u16string SignInStateText(TUiLanguage language, TSignInState state, const std::u16string& failure);
// The keyring did not answer in time (the window and the tip).
std::u16string KeyringNoAnswerText(TUiLanguage language);
// Before the token's place, when the keyring stayed locked and the file serves.
std::u16string KeyringLockedText(TUiLanguage language);
// "Token kept in: <where>".
std::u16string TokenPlaceText(TUiLanguage language, const std::u16string& where);
// The pages the browser shows after the redirect.
RedirectPages SignInPages(TUiLanguage language);
// The tip's line after a failed sign-in in the browser.
std::u16string SignInFailedLine(TUiLanguage language, const std::u16string& reason);
// Why the user has to sign in again, to follow "Sign in again" (": the mail server refused the
// token"); empty for no particular reason. refusal: the provider's words (SignInCause::Refused).
std::u16string SignInAgainReason(TUiLanguage language, SignInCause cause, const std::u16string& refusal);
// The check's failures with OAuth sign-in: "Sign in again (Settings, Sign in…)", the reason, ".".
std::u16string SignInAgainText(TUiLanguage language, SignInCause cause = SignInCause::None,
                               const std::u16string& refusal = u"");
std::u16string SignInNeedsTlsText(TUiLanguage language);
