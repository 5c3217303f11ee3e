#pragma once
// Text helpers without state: language choice, number formatting, credential scrambling,
// the About box and starting a program.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TForm;

// ---- Language -------------------------------------------------------------------------------

enum TUiLanguage : uint8_t { ulSwedish, ulEnglish };

// The program's command-line arguments after the program name, kept for the language rule.
void SetCommandLineArguments(std::vector<std::u16string> arguments);

// Reads the user's locale (LC_ALL, then LC_MESSAGES, then LANG) and keeps its identifier:
// sv_SE 1053, sv_FI 2077, unset/C/POSIX 1033, other locales their own identifiers where known.
void CaptureThreadLocale();
int32_t CapturedLocaleId();

// "/SWEDISH" or "/ENGLISH" on the command line (first match wins), else Swedish exactly for 1053.
TUiLanguage CurrentUiLanguage();
std::u16string PickLanguageText(TUiLanguage language, std::u16string_view swedish,
                                std::u16string_view english);

// ---- About box and programs ----------------------------------------------------------------

// Shows an information box with the message and an OK button over `owner`; an empty caption
// becomes "Om..." or "About..." by CurrentUiLanguage.
void ShowAboutBox(TForm* owner, std::u16string_view message, std::u16string_view caption);

// Starts the program file at `path` as a new process with no arguments, this program's
// environment and current folder; does not wait for it. Failures are not reported.
void RunProgram(std::u16string_view path);

// ---- Numbers --------------------------------------------------------------------------------

// The count by the pattern "#,###;#,###;0": zero is "0", any other value its absolute value
// grouped by three with the locale's thousands separator.
std::u16string FormatCount(int64_t value);

// The thousands separator of FormatCount: the user's regional setting unless one is set here
// (tests fix it this way); std::nullopt returns to the regional setting.
char16_t ThousandSeparator();
void SetThousandSeparator(std::optional<char16_t> separator);

// ---- Credential scrambling ------------------------------------------------------------------

// Sixteen distinct upper-case letters, none a hexadecimal digit; letter k stands for digit k.
inline constexpr std::u16string_view KeyAlphabet = u"MRZHWKTPYXNSJVLQ";

using TByteString = std::string; // 8-bit bytes without a code page

TByteString TextToByteString(std::u16string_view text); // low 8 bits of each code unit
std::u16string ByteStringToText(const TByteString& bytes);

// Two key letters per byte (the byte inverted with FF first when `invert`).
TByteString ScrambleBytes(const TByteString& bytes, std::u16string_view keyAlphabet, bool invert);
TByteString UnscrambleBytes(const TByteString& scrambled, std::u16string_view keyAlphabet, bool invert);

std::u16string ScrambleCredential(std::u16string_view text);
std::u16string UnscrambleCredential(std::u16string_view storedText);
