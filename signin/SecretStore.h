#pragma once
// Where the refresh token is kept between runs.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "signin/SignInErrors.h"

// The system's secret store did not answer within its time limit.
BG_DECLARE_EXCEPTION(ESecretStoreNoAnswer, ESecretStoreError);
// The system's secret store stayed locked: its prompt was refused or could not be shown.
BG_DECLARE_EXCEPTION(ESecretStoreShut, ESecretStoreError);
// No system secret store runs (nothing owns its name on the bus).
BG_DECLARE_EXCEPTION(ESecretStoreAbsent, ESecretStoreError);

// How long a call to the system's secret store may take, and a prompt in which the desktop asks the
// user to unlock (or create) the keyring.
constexpr std::chrono::milliseconds SecretStoreCallLimit{5000};
constexpr std::chrono::milliseconds SecretStorePromptLimit{120000};

// Where the refresh token is kept: the system's secret store (the Secret Service through libsecret; the
// Credential Manager on Windows), else an owner-only file in the settings folder. Calls to the system's
// store may take seconds: make them off the user-interface thread.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // Read gives nothing when the entry is not there; Write replaces it; Erase of a missing entry is no
    // fault. Each raises ESecretStoreError when the store refuses or cannot be reached (the system's
    // store: ESecretStoreNoAnswer after SecretStoreCallLimit, ESecretStoreShut when it stayed locked).
    virtual std::optional<std::string> Read(const std::u16string& entry) = 0;
    virtual void Write(const std::u16string& entry, const std::string& secret) = 0;
    virtual void Erase(const std::u16string& entry) = 0;
    // A few words for the window: where the token is kept.
    virtual std::u16string Where() const = 0;
};
// The system's secret store, or nullptr when there is none (no session bus, no library, no service).
// A store that is there but does not answer is returned: its calls raise ESecretStoreNoAnswer.
std::unique_ptr<SecretStore> OpenSystemSecretStore();
// The owner-only file fallback in the given folder.
std::unique_ptr<SecretStore> OpenSecretFile(const std::u16string& folder);
#ifndef _WIN32
// Loads the system store's library under another name (a missing one stands for no library).
void SetSecretLibraryForTesting(const char* name);
#endif

// The system's secret store where it answers, else the owner-only file. The file serves only where
// there is no system store or it stayed locked; a store that does not answer is never replaced by
// the file (its calls raise ESecretStoreNoAnswer), so no second copy is written behind its back.
// A token kept in the file while the system store was missing or locked is still found there, and
// leaves the file when it is written to the system store. Opens the system store at the first call.
class KeyringOrFile : public SecretStore {
public:
    enum class Keyring { Untried, Answered, Missing, StayedLocked, NoAnswer };

    explicit KeyringOrFile(std::u16string folder);
    ~KeyringOrFile() override;

    std::optional<std::string> Read(const std::u16string& entry) override;
    void Write(const std::u16string& entry, const std::string& secret) override;
    // Erases the entry from the file and the system store.
    void Erase(const std::u16string& entry) override;
    // The system store's name, or the file's path once the file serves.
    std::u16string Where() const override;
    // What the system store did at the last call.
    Keyring State() const { return state_; }

private:
    SecretStore* System();
    // Runs a call to the system store, noting its outcome; false when the file serves instead.
    template <class Call> bool TrySystem(Call call);

    std::unique_ptr<SecretStore> file_;
    std::unique_ptr<SecretStore> system_;
    bool opened_ = false;
    bool fileServes_ = false;
    Keyring state_ = Keyring::Untried;
};
