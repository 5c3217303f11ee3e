// Charsets through iconv: the bytes are converted to UTF-16 in one pass; any byte sequence the
// charset does not allow makes the whole conversion fail.

#include "mail/CharsetConversion.h"

#include <iconv.h>

namespace {

class IconvHandle {
public:
    explicit IconvHandle(const std::string& charset) : handle_(iconv_open("UTF-16LE", charset.c_str())) {}
    ~IconvHandle() {
        if (valid())
            iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

} // namespace

std::optional<std::u16string> PlatformCharsetToText(std::string_view charset, std::string_view bytes) {
    // iconv takes names with suffixes of its own ("//TRANSLIT"): only plain names are asked for.
    if (charset.empty() || charset.find('/') != std::string_view::npos ||
        charset.find(',') != std::string_view::npos)
        return std::nullopt;
    IconvHandle converter{std::string(charset)};
    if (!converter.valid())
        return std::nullopt;
    // Four UTF-16 bytes per input byte cover every charset iconv knows.
    std::string output(bytes.size() * 4 + 4, '\0');
    std::string input(bytes);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    if (iconv(converter.get(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    const size_t written = output.size() - outLeft;
    std::u16string text(written / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(output[2 * i]) |
                                        static_cast<unsigned char>(output[2 * i + 1]) << 8);
    return text;
}
