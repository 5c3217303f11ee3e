// The refresh token in the Windows Credential Manager: generic credentials kept on this machine for this
// user (they do not roam), their secrets the token's bytes. A credential holds at most 2560 bytes, less
// than some providers' refresh tokens: a longer token goes on in further credentials named after the
// entry, "<entry> (2)", "<entry> (3)" ..., each but the last one full. The calls are made on a thread
// of their own and given up after SecretStoreCallLimit: a store that does not answer then costs
// seconds, and its late answer is dropped.
#include "signin/SecretStore.h"

#include <windows.h>

#include <wincred.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "base/WindowsText.h"

namespace {

constexpr size_t PartBytes = CRED_MAX_CREDENTIAL_BLOB_SIZE;
constexpr size_t MostParts = 32;

[[noreturn]] void RaiseStoreError(const char16_t* what, DWORD error) {
    throw ESecretStoreError(u"Credential Manager: " + std::u16string(what) + u" (" + SystemErrorText(error) +
                            u")");
}

std::u16string PartName(const std::u16string& entry, size_t index) {
    return index == 0 ? entry : entry + u" (" + AsciiToText(std::to_string(index + 1)) + u")";
}

// CredReadW of one credential: its secret, or nothing when it is not there.
std::optional<std::string> ReadPart(const std::u16string& name) {
    PCREDENTIALW credential = nullptr;
    if (!CredReadW(WideChars(name), CRED_TYPE_GENERIC, 0, &credential)) {
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

void WritePart(const std::u16string& name, std::string_view secret) {
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(WideChars(name));
    credential.CredentialBlobSize = static_cast<DWORD>(secret.size());
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    if (!CredWriteW(&credential, 0))
        RaiseStoreError(u"cannot keep the token", GetLastError());
}

// CredDeleteW of one credential: false when it was not there.
bool ErasePart(const std::u16string& name) {
    if (CredDeleteW(WideChars(name), CRED_TYPE_GENERIC, 0))
        return true;
    const DWORD error = GetLastError();
    if (error != ERROR_NOT_FOUND)
        RaiseStoreError(u"cannot delete the token", error);
    return false;
}

// The one thread that makes the Credential Manager's calls, in the order given, for every store of
// the process: made once, it outlives a call that never returns (later calls then wait behind it).
class CredentialThread {
public:
    static void Post(std::function<void()> call) {
        static CredentialThread* const thread = new CredentialThread; // never destroyed: it may be stuck
        {
            std::lock_guard<std::mutex> lock(thread->mutex_);
            thread->calls_.push_back(std::move(call));
        }
        thread->wake_.notify_one();
    }

private:
    CredentialThread() {
        std::thread([this] { Serve(); }).detach();
    }
    void Serve() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !calls_.empty(); });
            std::function<void()> call = std::move(calls_.front());
            calls_.pop_front();
            lock.unlock();
            call();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
};

// Runs call on the credential thread, waiting at most SecretStoreCallLimit for it; raises
// ESecretStoreNoAnswer after that, and what the call raised.
template <class Result> Result WithinLimit(std::function<Result()> call) {
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    CredentialThread::Post([promise, call = std::move(call)] {
        try {
            promise->set_value(call());
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    if (future.wait_for(SecretStoreCallLimit) != std::future_status::ready)
        throw ESecretStoreNoAnswer(std::string_view("The Credential Manager did not answer."));
    return future.get();
}

class CredentialStore : public SecretStore {
public:
    std::optional<std::string> Read(const std::u16string& entry) override {
        return WithinLimit<std::optional<std::string>>([entry] { return ReadAll(entry); });
    }
    void Write(const std::u16string& entry, const std::string& secret) override {
        WithinLimit<bool>([entry, secret] { return WriteAll(entry, secret), true; });
    }
    void Erase(const std::u16string& entry) override {
        WithinLimit<bool>([entry] { return EraseAll(entry), true; });
    }

    std::u16string Where() const override { return u"Windows Credential Manager"; }

private:
    // CredReadW of the entry and of its further parts; raises ESecretStoreError when the store cannot be
    // read.
    static std::optional<std::string> ReadAll(const std::u16string& entry) {
        std::optional<std::string> secret = ReadPart(entry);
        for (size_t index = 1; secret && secret->size() == index * PartBytes && index < MostParts; ++index) {
            const std::optional<std::string> part = ReadPart(PartName(entry, index));
            if (!part)
                break;
            *secret += *part;
        }
        return secret;
    }

    // CredWriteW of the entry and the parts it needs, then CredDeleteW of parts a longer secret left;
    // raises ESecretStoreError when it is refused or the secret is larger than MostParts parts.
    static void WriteAll(const std::u16string& entry, const std::string& secret) {
        if (secret.size() > MostParts * PartBytes)
            RaiseStoreError(u"the token is too large to keep", ERROR_INVALID_PARAMETER);
        size_t index = 0;
        for (size_t offset = 0; index == 0 || offset < secret.size(); offset += PartBytes, ++index)
            WritePart(PartName(entry, index), std::string_view(secret).substr(offset, PartBytes));
        while (index < MostParts && ErasePart(PartName(entry, index)))
            ++index;
    }

    // CredDeleteW of the entry and its parts; an entry that is not there is no fault.
    static void EraseAll(const std::u16string& entry) {
        size_t index = 0;
        while (index < MostParts && ErasePart(PartName(entry, index)))
            ++index;
    }
};

} // namespace

std::unique_ptr<SecretStore> OpenSystemSecretStore() {
    // A logon session without a credential set (a service account, some sandboxes) has no store.
    bool hasStore = true;
    try {
        hasStore = WithinLimit<bool>([] {
            PCREDENTIALW credential = nullptr;
            if (CredReadW(L"Brevgluggen", CRED_TYPE_GENERIC, 0, &credential))
                CredFree(credential);
            else if (GetLastError() == ERROR_NO_SUCH_LOGON_SESSION)
                return false;
            return true;
        });
    } catch (const ESecretStoreNoAnswer&) {
        // There but silent: its calls say so, and nothing is kept elsewhere in its place.
    }
    if (!hasStore)
        return nullptr;
    return std::make_unique<CredentialStore>();
}
