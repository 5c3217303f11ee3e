// Charsets through the system's code pages: the charset's name picks the code page, and
// MultiByteToWideChar converts, refusing bytes the code page does not allow.

#include "mail/CharsetConversion.h"

#include <windows.h>

#include "base/Text.h"
#include "base/WindowsText.h"

namespace {

struct NamedCodePage {
    std::string_view name;
    UINT codePage;
};

// The charsets mail is written in beyond UTF-8 and the Latin ones the decoder knows itself.
constexpr NamedCodePage kCodePages[] = {
    {"iso-8859-2", 28592},  {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},  {"iso-8859-6", 28596},   {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},  {"iso-8859-9", 28599},   {"iso-8859-13", 28603},
    {"koi8-r", 20866},      {"koi8-u", 21866},       {"windows-1250", 1250},
    {"windows-1251", 1251}, {"windows-1253", 1253},  {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256},  {"windows-1257", 1257},
    {"windows-1258", 1258}, {"windows-874", 874},    {"shift_jis", 932},
    {"euc-jp", 20932},      {"iso-2022-jp", 50220},  {"gb2312", 936},
    {"gbk", 936},           {"gb18030", 54936},      {"big5", 950},
    {"euc-kr", 51949},      {"ks_c_5601-1987", 949}, {"ibm850", 850},
    {"ibm866", 866},        {"utf-7", 65000},
};

} // namespace

std::optional<std::u16string> PlatformCharsetToText(std::string_view charset, std::string_view bytes) {
    const std::string name = AsciiLowerCase(charset);
    for (const NamedCodePage& entry : kCodePages) {
        if (entry.name != name)
            continue;
        if (bytes.empty())
            return std::u16string();
        const int size = static_cast<int>(bytes.size());
        // Code pages that take no flags (ISO-2022, UTF-7) refuse MB_ERR_INVALID_CHARS.
        const DWORD flags = entry.codePage >= 50000 ? 0 : MB_ERR_INVALID_CHARS;
        const int length = MultiByteToWideChar(entry.codePage, flags, bytes.data(), size, nullptr, 0);
        if (length <= 0)
            return std::nullopt;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(entry.codePage, flags, bytes.data(), size, wide.data(), length);
        return TextFromWide(wide.data(), wide.size());
    }
    return std::nullopt;
}
