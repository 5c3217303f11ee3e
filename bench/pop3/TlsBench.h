#pragma once
// One check over implicit TLS (POP3S): in process against a floor of raw OpenSSL calls, with a
// full and with a resumed handshake, and as a whole process against curl, fetchmail --check and
// mpop -s. The server must serve TLS with the test certificates, which these runs trust.

class DovecotServer;

void RunTlsInProcess(const DovecotServer& server, int rounds);
void RunTlsWholeProcess(const DovecotServer& server, int rounds);
