// A system prompter for the keyring tests: on the session bus, it answers the keyring's password
// prompts with "test-password" (the password private_secret_service.sh gives the keyring). Prints
// its bus name, then stays until it is stopped. It uses the mock prompter of the desktop's
// credential library, whose header is not packaged here.
#include <unistd.h>

#include <cstdio>

extern "C" {
const char* gcr_mock_prompter_start(void);
void gcr_mock_prompter_expect_password_ok(const char* password, const char* firstPropertyName, ...);
}

int main() {
    const char* name = gcr_mock_prompter_start();
    for (int i = 0; i < 16; ++i)
        gcr_mock_prompter_expect_password_ok("test-password", nullptr);
    std::printf("%s\n", name);
    std::fflush(stdout);
    for (;;)
        pause();
}
