// The refresh token in the Windows Credential Manager: one generic credential per entry, kept on this
// machine for this user (it does not roam), its secret the token's bytes.
#include "signin/SecretStore.h"

#include <windows.h>

#include <wincred.h>

#include "base/WindowsText.h"

namespace {

[[noreturn]] void RaiseStoreError(const char16_t* what, DWORD error) {
    throw ESecretStoreError(u"Credential Manager: " + std::u16string(what) + u" (" + SystemErrorText(error) +
                            u")");
}

class CredentialStore : public SecretStore {
public:
    // CredReadW; raises ESecretStoreError when the store cannot be read.
    std::optional<std::string> Read(const std::u16string& entry) override {
        PCREDENTIALW credential = nullptr;
        if (!CredReadW(WideChars(entry), CRED_TYPE_GENERIC, 0, &credential)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NOT_FOUND)
                return std::nullopt;
            RaiseStoreError(u"cannot read the token", error);
        }
        std::string secret(reinterpret_cast<const char*>(credential->CredentialBlob),
                           credential->CredentialBlobSize);
        CredFree(credential);
        return secret;
    }

    // CredWriteW, replacing the entry; raises ESecretStoreError when it is refused (also for a secret
    // larger than a credential holds).
    void Write(const std::u16string& entry, const std::string& secret) override {
        if (secret.size() > CRED_MAX_CREDENTIAL_BLOB_SIZE)
            RaiseStoreError(u"the token is too large to keep", ERROR_INVALID_PARAMETER);
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(WideChars(entry));
        credential.CredentialBlobSize = static_cast<DWORD>(secret.size());
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        if (!CredWriteW(&credential, 0))
            RaiseStoreError(u"cannot keep the token", GetLastError());
    }

    // CredDeleteW; an entry that is not there is no fault.
    void Erase(const std::u16string& entry) override {
        if (!CredDeleteW(WideChars(entry), CRED_TYPE_GENERIC, 0) && GetLastError() != ERROR_NOT_FOUND)
            RaiseStoreError(u"cannot delete the token", GetLastError());
    }

    std::u16string Where() const override { return u"Windows Credential Manager"; }
};

} // namespace

std::unique_ptr<SecretStore> OpenSystemSecretStore() {
    // A logon session without a credential set (a service account, some sandboxes) has no store.
    PCREDENTIALW credential = nullptr;
    if (CredReadW(L"Brevgluggen", CRED_TYPE_GENERIC, 0, &credential))
        CredFree(credential);
    else if (GetLastError() == ERROR_NO_SUCH_LOGON_SESSION)
        return nullptr;
    return std::make_unique<CredentialStore>();
}
