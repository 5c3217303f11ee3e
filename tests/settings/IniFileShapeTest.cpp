// Settings files of every shape a user, another program or an attacker may leave in the file's
// place: line ends, encodings, sizes, links, pipes and devices. Each is read, then one other key
// is stored; what is read must not change, and what cannot be read safely is never replaced.

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

#include "base/Text.h"
#include "tests/settings/SettingsTestSupport.h"
#include "toolz/INIToolz.h"
#include "toolz/SettingsFileStore.h"

namespace fs = std::filesystem;

namespace {

// The text as UTF-16 bytes with a byte order mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// A file of exactly `size` bytes that holds Port=995.
std::string PortFileOfSize(size_t size) {
    std::string bytes = "[Main]\nPort=995\n;";
    bytes.resize(size - 1, 'x');
    return bytes + "\n";
}

struct FileShape {
    const char* name;
    std::string bytes;
    std::u16string port;                   // what Port reads, before and after the store
    std::optional<std::string> afterStore; // the bytes after storing UserName=u; none: unchanged
};

} // namespace

TEST(IniFileShape, EachShapeIsReadAndAStoreChangesNoOtherKey) {
    const FileShape shapes[] = {
        {"bare CR at the end", "[Main]\nPort=995\r", u"995", "[Main]\nPort=995\rUserName=u\n"},
        {"CR line ends", "[Main]\rPort=995\rWWW=1\r", u"995", "[Main]\rPort=995\rWWW=1\rUserName=u\r"},
        {"each line keeps its own end", "[Main]\r\nPort=995\nUserName=old\rWWW=1", u"995",
         "[Main]\r\nPort=995\nUserName=u\rWWW=1"},
        {"UTF-16 LE", Utf16(u"[Main]\r\nPort=995\r\n", false), u"995",
         Utf16(u"[Main]\r\nPort=995\r\nUserName=u\r\n", false)},
        {"UTF-16 BE", Utf16(u"[Main]\r\nSound=/home/\u00E5sa/\U0001F514.wav\r\nPort=995\r\n", true), u"995",
         Utf16(u"[Main]\r\nSound=/home/\u00E5sa/\U0001F514.wav\r\nPort=995\r\nUserName=u\r\n", true)},
        {"UTF-16 with an odd byte count", Utf16(u"[Main]\r\nPort=995\r\n", false) + "x", u"110",
         std::nullopt},
        {"UTF-16 with half a surrogate pair", Utf16(u"[Main]\r\nPort=995\xD800\r\n", false), u"110",
         std::nullopt},
        {"Windows-1252, as a Windows ANSI code page writes it", "[Main]\r\nPort=\xE5sa\x80\x81\r\n",
         u"\u00E5sa\u20AC\u0081", "[Main]\r\nPort=\xE5sa\x80\x81\r\nUserName=u\r\n"},
        {"Windows-1252 that the store would leave reading as UTF-8",
         "[Main]\r\nPort=\xC3\xA5\r\nUserName=\xE5\r\n", u"\u00C3\u00A5",
         "\xEF\xBB\xBF[Main]\r\nPort=\xC3\x83\xC2\xA5\r\nUserName=u\r\n"},
        {"largest size read, but a store would pass it", PortFileOfSize(MaxSettingsFileSize), u"995",
         std::nullopt},
        {"one byte too large", PortFileOfSize(MaxSettingsFileSize + 1), u"110", std::nullopt},
    };
    for (const FileShape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        TTempFolder folder;
        const std::u16string file = folder.File("Brevgluggen.INI");
        WriteBytes(file, shape.bytes);
        EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", file), shape.port);

        WriteIniString(u"Main", u"UserName", u"u", file);

        EXPECT_EQ(ReadBytes(file), shape.afterStore.value_or(shape.bytes));
        EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", file), shape.port);
        EXPECT_EQ(ReadIniString(u"Main", u"UserName", u"none", file), shape.afterStore ? u"u" : u"none");
    }
}

TEST(IniFileShape, PipeDeviceOrFolderInTheFilesPlaceIsNeitherReadNorReplaced) {
    TTempFolder folder;
    const std::u16string pipe = folder.File("Pipe.INI");
    const std::u16string device = folder.File("Device.INI");
    const std::u16string directory = folder.File("Folder.INI");
    ASSERT_EQ(mkfifo(TextToUtf8(pipe).c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", TextToUtf8(device));
    fs::create_directory(TextToUtf8(directory));

    for (const std::u16string& file : {pipe, device, directory}) {
        SCOPED_TRACE(TextToUtf8(file));
        EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", file), u"110"); // returns, does not block
        WriteIniString(u"Main", u"Port", u"995", file);
    }
    EXPECT_TRUE(fs::is_fifo(TextToUtf8(pipe)));
    EXPECT_TRUE(fs::is_symlink(TextToUtf8(device)));
    EXPECT_TRUE(fs::is_empty(TextToUtf8(directory)));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 3);
}

TEST(IniFileShape, DanglingLinkIsKeptAndItsTargetCreated) {
    TTempFolder folder;
    const std::u16string link = folder.File("Brevgluggen.INI");
    fs::create_symlink("real.INI", TextToUtf8(link)); // relative, to a file not made yet

    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", link), u"110");
    WriteIniString(u"Main", u"Port", u"995", link);

    EXPECT_TRUE(fs::is_symlink(TextToUtf8(link)));
    EXPECT_EQ(ReadBytes(folder.File("real.INI")), "[Main]\nPort=995\n");
    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", link), u"995");
}
