#include "tests/settings/SettingsTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "base/Integers.h"
#include "base/Text.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

namespace fs = std::filesystem;

std::u16string TTempFolder::File(const std::string& name) const {
    return Utf8ToText((Path() / name).string());
}

std::string ReadBytes(const std::u16string& path) {
    std::ifstream in(TextToUtf8(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
    std::ofstream(TextToUtf8(path), std::ios::binary) << bytes;
}

bool Exists(const std::u16string& path) {
    return fs::exists(TextToUtf8(path));
}

std::string RunUnprivileged(const std::function<std::string()>& body) {
    int channel[2];
    if (pipe(channel) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        constexpr uid_t nobody = 65534;
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(2);
        const std::string result = body();
        const bool written = write(channel[1], result.data(), result.size()) == ssize_t(result.size());
        _exit(written ? 0 : 3);
    }
    close(channel[1]);
    std::string result;
    char chunk[4096];
    for (ssize_t count; (count = read(channel[0], chunk, sizeof chunk)) > 0;)
        result.append(chunk, size_t(count));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "unprivileged child failed";
    return result;
}

void StoreSevenSettings(const std::u16string& file, int round) {
    const std::u16string n = IntToText(round);
    WriteIniString(u"Main", u"POP3Server", u"pop" + n + u".example.org", file);
    WriteIniString(u"Main", u"Port", n, file);
    WriteIniString(u"Main", u"UserName", ScrambleCredential(u"user" + n), file);
    WriteIniString(u"Main", u"Password", ScrambleCredential(u"secret" + n), file);
    WriteIniString(u"Main", u"PathToClient", u"/usr/bin/mail" + n, file);
    WriteIniString(u"Main", u"PathToSound", u"/sounds/" + n + u".wav", file);
    WriteIniBool(u"Main", u"WWW", round % 2 == 1, file);
}
