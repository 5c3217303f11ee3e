#include "pop3/IdPOP3.h"

#include "transport/IdException.h"

void TIdPOP3::ConnectAndLogIn() { throw EIdException(std::string_view("POP3 client not available")); }
int32_t TIdPOP3::QueryMessageCount() { throw EIdNotConnected(std::string_view("Not Connected")); }
void TIdPOP3::CloseSession(bool) {}
bool TIdPOP3::TcpConnectionIsOpen() { return false; }
