// The INI text model against any file: it is written back byte for byte as it was read (or
// refused as damaged UTF-16, and only then), and storing one key changes no other key's value,
// whatever the file holds.

#include <fuzzer/FuzzedDataProvider.h>

#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "fuzz/FuzzChecks.h"
#include "toolz/IniText.h"

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Every "[section]" and "key=" the file may hold, found with a scan of its own: the names
// whose values the store must leave alone. Lines are cut at every CR and LF; a name that is no
// key of the model only reads as missing before and after.
std::vector<std::pair<std::string, std::string>> NamesIn(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> names;
    std::string section;
    size_t start = 0;
    while (start <= text.size() && names.size() < 64) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        const std::string_view line = TrimBlanks(text.substr(start, end - start));
        if (line.starts_with('[') && line.find(']') != std::string_view::npos)
            section = std::string(TrimBlanks(line.substr(1, line.find(']') - 1)));
        else if (const size_t equals = line.find('='); equals != std::string_view::npos)
            names.emplace_back(section, TrimBlanks(line.substr(0, equals)));
        start = end + 1;
    }
    return names;
}

// A name or value the program could pass: valid UTF-8 (as it comes from the program's texts).
std::string ProgramText(FuzzedDataProvider& input, size_t longest) {
    return TextToUtf8(Utf8ToText(input.ConsumeRandomLengthString(longest)));
}

// The file's text as the model reads it, decoded here on its own: UTF-16 after its byte order
// mark, Windows-1252 where the bytes are no UTF-8, or the bytes themselves.
std::string TextOf(std::string_view file) {
    const bool littleEndian = file.starts_with("\xFF\xFE"), bigEndian = file.starts_with("\xFE\xFF");
    if (!littleEndian && !bigEndian)
        return TextToUtf8(Utf8ToText(file)) == file ? std::string(file) : TextToUtf8(Windows1252ToText(file));
    std::u16string units;
    for (size_t i = 2; i + 1 < file.size(); i += 2) {
        const auto first = static_cast<unsigned char>(file[i]),
                   second = static_cast<unsigned char>(file[i + 1]);
        units += static_cast<char16_t>(bigEndian ? first * 256 + second : second * 256 + first);
    }
    return TextToUtf8(units);
}

std::optional<std::string> ValueIn(const TIniText& ini, std::string_view section, std::string_view key) {
    const auto value = ini.Value(section, key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::string Shown(std::string_view section, std::string_view key) {
    return "[" + Quoted(section) + "] " + Quoted(key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string file = input.ConsumeRandomLengthString(4096);
    std::string section = std::string(TrimBlanks(ProgramText(input, 32)));
    std::string key = std::string(TrimBlanks(ProgramText(input, 32)));
    std::string value = ProgramText(input, 128);
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' '; // values are stored on one line

    std::optional<TIniText> ini;
    try {
        ini.emplace(file);
    } catch (const EConvertError&) {
        FUZZ_CHECK(file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF"), Quoted(file));
        return 0;
    }
    FUZZ_CHECK(ini->Bytes() == file,
               "read and written back: " + Quoted(file) + " became " + Quoted(ini->Bytes()));

    // Every name the file holds, and the one stored.
    auto names = NamesIn(TextOf(file));
    names.emplace_back(section, key);
    std::vector<std::optional<std::string>> before;
    for (const auto& [s, k] : names)
        before.push_back(ValueIn(*ini, s, k));

    try {
        RaiseIfNotStorable(section, key);
    } catch (const Exception&) {
        return 0;
    }
    ini->SetValue(section, key, value);
    const std::string stored = ini->Bytes();
    const TIniText reread(stored);
    FUZZ_CHECK(reread.Bytes() == stored, Quoted(stored));
    FUZZ_CHECK(reread.Value(section, key) == TrimBlanks(value),
               Shown(section, key) + " = " + Quoted(value) + " in " + Quoted(stored));
    for (size_t i = 0; i < names.size(); ++i) {
        const auto& [s, k] = names[i];
        if (SameIgnoringCase(s, section) && SameIgnoringCase(k, key))
            continue;
        FUZZ_CHECK(ValueIn(reread, s, k) == before[i], "storing " + Shown(section, key) + " changed " +
                                                           Shown(s, k) + " in " + Quoted(file) + " to " +
                                                           Quoted(stored));
    }
    return 0;
}
