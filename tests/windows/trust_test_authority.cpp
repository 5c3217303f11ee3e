// Trusts the tests' certificate authority in the Wine prefix it runs in (made by the Linux helper,
// $BG_REAL_POP3_SERVER, on first use), for whole-program tests whose servers speak TLS.
#include "tests/support/TestCertificates.h"

int main() {
    TestCertificates::Get();
    return 0;
}
