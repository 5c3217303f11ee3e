#include "signin/SecretStore.h"

KeyringOrFile::KeyringOrFile(std::u16string folder) : file_(OpenSecretFile(folder)) {}

KeyringOrFile::~KeyringOrFile() = default;

SecretStore* KeyringOrFile::System() {
    if (!opened_) {
        system_ = OpenSystemSecretStore();
        opened_ = true;
    }
    return system_.get();
}

template <class Call> bool KeyringOrFile::TrySystem(Call call) {
    SecretStore* system = System();
    if (!system) {
        state_ = Keyring::Missing;
        return false;
    }
    try {
        call(*system);
        state_ = Keyring::Answered;
        return true;
    } catch (const ESecretStoreNoAnswer&) {
        state_ = Keyring::NoAnswer;
        throw;
    } catch (const ESecretStoreShut&) {
        state_ = Keyring::StayedLocked;
    } catch (const ESecretStoreAbsent&) {
        state_ = Keyring::Missing;
    }
    return false;
}

std::optional<std::string> KeyringOrFile::Read(const std::u16string& entry) {
    std::optional<std::string> secret;
    if (TrySystem([&](SecretStore& system) { secret = system.Read(entry); }) && secret) {
        fileServes_ = false;
        return secret;
    }
    secret = file_->Read(entry);
    fileServes_ = secret || state_ != Keyring::Answered;
    return secret;
}

void KeyringOrFile::Write(const std::u16string& entry, const std::string& secret) {
    if (TrySystem([&](SecretStore& system) { system.Write(entry, secret); })) {
        fileServes_ = false;
        try {
            file_->Erase(entry);
        } catch (const ESecretStoreError&) {
        }
        return;
    }
    fileServes_ = true;
    file_->Write(entry, secret);
}

void KeyringOrFile::Erase(const std::u16string& entry) {
    file_->Erase(entry);
    TrySystem([&](SecretStore& system) { system.Erase(entry); });
}

std::u16string KeyringOrFile::Where() const {
    return fileServes_ || !system_ ? file_->Where() : system_->Where();
}
