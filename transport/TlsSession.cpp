#include "transport/TlsSession.h"

#include "base/Text.h"
#include "transport/Messages.h"

std::u16string CertificateFaultText(CertificateFault fault, std::u16string_view host,
                                    std::u16string_view detail) {
    switch (fault) {
    case CertificateFault::Expired:
        return AsciiToText(RSCertificateExpired);
    case CertificateFault::NotYetValid:
        return AsciiToText(RSCertificateNotYetValid);
    case CertificateFault::NameMismatch:
        return AsciiToText(RSCertificateHostMismatch) + std::u16string(host);
    case CertificateFault::AddressMismatch:
        return AsciiToText(RSCertificateAddressMismatch) + std::u16string(host);
    case CertificateFault::UnknownAuthority:
        return AsciiToText(RSCertificateUnknownAuthority);
    case CertificateFault::SelfSigned:
        return AsciiToText(RSCertificateSelfSigned);
    case CertificateFault::Other:
        break;
    }
    return AsciiToText(RSCertificateRejected) + std::u16string(detail);
}
