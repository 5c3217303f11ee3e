#include "transport/TlsSession.h"

#include "base/Text.h"
#include "transport/Messages.h"

std::u16string CertificateFaultText(TIdCertificateFault fault, std::u16string_view host,
                                    std::u16string_view detail) {
    switch (fault) {
    case TIdCertificateFault::Expired:
        return AsciiToText(RSCertificateExpired);
    case TIdCertificateFault::NotYetValid:
        return AsciiToText(RSCertificateNotYetValid);
    case TIdCertificateFault::NameMismatch:
        return AsciiToText(RSCertificateHostMismatch) + std::u16string(host);
    case TIdCertificateFault::AddressMismatch:
        return AsciiToText(RSCertificateAddressMismatch) + std::u16string(host);
    case TIdCertificateFault::UnknownAuthority:
        return AsciiToText(RSCertificateUnknownAuthority);
    case TIdCertificateFault::SelfSigned:
        return AsciiToText(RSCertificateSelfSigned);
    case TIdCertificateFault::Other:
        break;
    }
    return AsciiToText(RSCertificateRejected) + std::u16string(detail);
}
