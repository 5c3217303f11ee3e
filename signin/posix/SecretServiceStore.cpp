// The refresh token in the desktop's Secret Service, through libsecret's synchronous calls.
#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>

#include "base/Text.h"
#include "signin/SecretStore.h"

namespace {

const SecretSchema* TokenSchema() {
    static const SecretSchema schema = {"io.github.brevgluggen.SignIn",
                                        SECRET_SCHEMA_NONE,
                                        {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"entry", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

constexpr const char* kApplication = "brevgluggen";

// Takes a GError, raising its message (and freeing it) when there is one.
void RaiseOnError(GError* error, const char* action) {
    if (!error)
        return;
    const std::string message = std::string(action) + ": " + error->message;
    g_error_free(error);
    throw ESecretStoreError(message);
}

class SecretServiceStore : public SecretStore {
public:
    std::optional<std::string> Read(const std::u16string& entry) override {
        GError* error = nullptr;
        const std::string name = TextToUtf8(entry);
        gchar* secret = secret_password_lookup_sync(TokenSchema(), nullptr, &error, "application",
                                                    kApplication, "entry", name.c_str(), nullptr);
        RaiseOnError(error, "Secret Service lookup failed");
        if (!secret)
            return std::nullopt;
        std::string value(secret);
        secret_password_free(secret);
        return value;
    }
    void Write(const std::u16string& entry, const std::string& secret) override {
        GError* error = nullptr;
        const std::string name = TextToUtf8(entry);
        const std::string label = "Brevgluggen sign-in: " + name;
        secret_password_store_sync(TokenSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret.c_str(),
                                   nullptr, &error, "application", kApplication, "entry", name.c_str(),
                                   nullptr);
        RaiseOnError(error, "Secret Service store failed");
    }
    void Erase(const std::u16string& entry) override {
        GError* error = nullptr;
        const std::string name = TextToUtf8(entry);
        secret_password_clear_sync(TokenSchema(), nullptr, &error, "application", kApplication, "entry",
                                   name.c_str(), nullptr);
        RaiseOnError(error, "Secret Service removal failed");
    }
    std::u16string Where() const override { return u"Secret Service"; }
};

// Without a session bus libsecret would try to launch one; there is then no store to ask.
bool SessionBusKnown() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ignored;
    return runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ignored);
}

} // namespace

std::unique_ptr<SecretStore> OpenSystemSecretStore() {
    if (!SessionBusKnown())
        return nullptr;
    auto store = std::make_unique<SecretServiceStore>();
    try {
        store->Read(u"probe");
    } catch (const ESecretStoreError&) {
        return nullptr;
    }
    return store;
}
