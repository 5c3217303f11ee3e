#pragma once
// Where the refresh token is kept between runs.

#include <memory>
#include <optional>
#include <string>

#include "signin/SignInErrors.h"

// Where the refresh token is kept: the system's secret store (the Secret Service through libsecret; the
// Credential Manager on Windows), else an owner-only file in the settings folder.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // Read gives nothing when the entry is not there; Write replaces it; Erase of a missing entry is no
    // fault. Each raises ESecretStoreError when the store refuses or cannot be reached.
    virtual std::optional<std::string> Read(const std::u16string& entry) = 0;
    virtual void Write(const std::u16string& entry, const std::string& secret) = 0;
    virtual void Erase(const std::u16string& entry) = 0;
    // A few words for the window: where the token is kept.
    virtual std::u16string Where() const = 0;
};
// The system's secret store, or nullptr when none answers.
std::unique_ptr<SecretStore> OpenSystemSecretStore();
// The owner-only file fallback in the given folder.
std::unique_ptr<SecretStore> OpenSecretFile(const std::u16string& folder);
