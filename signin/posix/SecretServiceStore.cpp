// The refresh token in the desktop's Secret Service, through libsecret. The library (and gio with
// it) is loaded when the store is first opened, so that a program that never signs in with OAuth
// never maps it; its headers give the types only. Each call runs on a main context of the store's
// own and is cancelled after a time limit, so that a keyring that does not answer costs seconds,
// not the bus's time-out. A locked default collection is unlocked through the service's own
// prompt (the desktop asks the user), once per store: a refusal is remembered.
#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>

#include "base/RuntimeLibrary.h"
#include "base/Text.h"
#include "signin/SecretStore.h"

namespace {

const char* libraryName = "libsecret-1.so.0";

// The library's entry points, and those of glib, gobject and gio that it brings along.
struct SecretLibrary {
    void (*ServiceGet)(SecretServiceFlags, GCancellable*, GAsyncReadyCallback, gpointer);
    SecretService* (*ServiceGetFinish)(GAsyncResult*, GError**);
    void (*ForAlias)(SecretService*, const gchar*, SecretCollectionFlags, GCancellable*, GAsyncReadyCallback,
                     gpointer);
    SecretCollection* (*ForAliasFinish)(GAsyncResult*, GError**);
    gboolean (*CollectionLocked)(SecretCollection*);
    void (*Unlock)(SecretService*, GList*, GCancellable*, GAsyncReadyCallback, gpointer);
    gint (*UnlockFinish)(SecretService*, GAsyncResult*, GList**, GError**);
    void (*CreateCollection)(SecretService*, const gchar*, const gchar*, SecretCollectionCreateFlags,
                             GCancellable*, GAsyncReadyCallback, gpointer);
    SecretCollection* (*CreateCollectionFinish)(GAsyncResult*, GError**);
    void (*Lookup)(const SecretSchema*, GCancellable*, GAsyncReadyCallback, gpointer, ...);
    gchar* (*LookupFinish)(GAsyncResult*, GError**);
    void (*Store)(const SecretSchema*, const gchar*, const gchar*, const gchar*, GCancellable*,
                  GAsyncReadyCallback, gpointer, ...);
    gboolean (*StoreFinish)(GAsyncResult*, GError**);
    void (*Clear)(const SecretSchema*, GCancellable*, GAsyncReadyCallback, gpointer, ...);
    gboolean (*ClearFinish)(GAsyncResult*, GError**);
    void (*PasswordFree)(gchar*);

    GMainContext* (*ContextNew)();
    void (*PushContext)(GMainContext*);
    void (*PopContext)(GMainContext*);
    gboolean (*Iterate)(GMainContext*, gboolean);
    GSource* (*TimeoutSource)(guint);
    void (*SetCallback)(GSource*, GSourceFunc, gpointer, GDestroyNotify);
    guint (*Attach)(GSource*, GMainContext*);
    void (*DestroySource)(GSource*);
    void (*UnrefSource)(GSource*);
    GCancellable* (*CancellableNew)();
    void (*Cancel)(GCancellable*);
    gboolean (*Cancelled)(GCancellable*);
    gpointer (*Ref)(gpointer);
    void (*Unref)(gpointer);
    void (*ErrorFree)(GError*);
    GQuark (*DBusErrorQuark)();
    GList* (*ListAppend)(GList*, gpointer);
    void (*ListFree)(GList*);
    void (*ListFreeFull)(GList*, GDestroyNotify);

    // Raises ELibraryUnavailable.
    void Load(const RuntimeLibrary& library) {
        // The library's handle also finds what glib, gobject and gio export.
        library.Bind(ServiceGet, "secret_service_get");
        library.Bind(ServiceGetFinish, "secret_service_get_finish");
        library.Bind(ForAlias, "secret_collection_for_alias");
        library.Bind(ForAliasFinish, "secret_collection_for_alias_finish");
        library.Bind(CollectionLocked, "secret_collection_get_locked");
        library.Bind(Unlock, "secret_service_unlock");
        library.Bind(UnlockFinish, "secret_service_unlock_finish");
        library.Bind(CreateCollection, "secret_collection_create");
        library.Bind(CreateCollectionFinish, "secret_collection_create_finish");
        library.Bind(Lookup, "secret_password_lookup");
        library.Bind(LookupFinish, "secret_password_lookup_finish");
        library.Bind(Store, "secret_password_store");
        library.Bind(StoreFinish, "secret_password_store_finish");
        library.Bind(Clear, "secret_password_clear");
        library.Bind(ClearFinish, "secret_password_clear_finish");
        library.Bind(PasswordFree, "secret_password_free");
        library.Bind(ContextNew, "g_main_context_new");
        library.Bind(PushContext, "g_main_context_push_thread_default");
        library.Bind(PopContext, "g_main_context_pop_thread_default");
        library.Bind(Iterate, "g_main_context_iteration");
        library.Bind(TimeoutSource, "g_timeout_source_new");
        library.Bind(SetCallback, "g_source_set_callback");
        library.Bind(Attach, "g_source_attach");
        library.Bind(DestroySource, "g_source_destroy");
        library.Bind(UnrefSource, "g_source_unref");
        library.Bind(CancellableNew, "g_cancellable_new");
        library.Bind(Cancel, "g_cancellable_cancel");
        library.Bind(Cancelled, "g_cancellable_is_cancelled");
        library.Bind(Ref, "g_object_ref");
        library.Bind(Unref, "g_object_unref");
        library.Bind(ErrorFree, "g_error_free");
        library.Bind(DBusErrorQuark, "g_dbus_error_quark");
        library.Bind(ListAppend, "g_list_append");
        library.Bind(ListFree, "g_list_free");
        library.Bind(ListFreeFull, "g_list_free_full");
    }
};

// The library, loaded at the first call; nullptr when it is missing.
const SecretLibrary* Library() {
    static std::once_flag once;
    static SecretLibrary library;
    static bool loaded = false;
    std::call_once(once, [] {
        try {
            static const RuntimeLibrary handle(libraryName);
            library.Load(handle);
            loaded = true;
        } catch (const ELibraryUnavailable&) {
        }
    });
    return loaded ? &library : nullptr;
}

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

// One call at a time, on one main context: whatever the library queued there for an earlier call
// (a property change, a closing prompt) is handled by the next.
std::timed_mutex callLock;

GMainContext* CallContext(const SecretLibrary& lib) {
    static GMainContext* const context = lib.ContextNew();
    return context;
}

// A finished asynchronous call: its result, and whether it was cancelled for the time.
struct Finished {
    GAsyncResult* result = nullptr;
    bool timedOut = false;
};

void OnReady(GObject*, GAsyncResult* result, gpointer data) {
    auto* finished = static_cast<Finished*>(data);
    finished->result = static_cast<GAsyncResult*>(Library()->Ref(result));
}

gboolean OnTimeUp(gpointer cancellable) {
    Library()->Cancel(static_cast<GCancellable*>(cancellable));
    return FALSE;
}

using Starter = std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>;
// What a finished call gives: its error, if any (the finish function's GError).
using Finisher = std::function<GError*(GAsyncResult*)>;

// Starts a call and runs the call context until it has finished, cancelling it after limit.
// Raises ESecretStoreNoAnswer when the limit cut it short (or another call held the store as
// long), ESecretStoreError with the library's message for other failures.
void Await(const Starter& start, const Finisher& finish, std::chrono::milliseconds limit,
           const char* action) {
    const SecretLibrary& lib = *Library();
    std::unique_lock<std::timed_mutex> lock(callLock, std::defer_lock);
    if (!lock.try_lock_for(limit))
        throw ESecretStoreNoAnswer(std::string_view("The keyring did not answer."));
    GMainContext* context = CallContext(lib);
    lib.PushContext(context);
    GCancellable* cancellable = lib.CancellableNew();
    GSource* timer = lib.TimeoutSource(static_cast<guint>(limit.count()));
    lib.SetCallback(timer, OnTimeUp, cancellable, nullptr);
    lib.Attach(timer, context);
    Finished finished;
    start(cancellable, OnReady, &finished);
    while (!finished.result)
        lib.Iterate(context, TRUE);
    lib.DestroySource(timer);
    lib.UnrefSource(timer);
    finished.timedOut = lib.Cancelled(cancellable);
    GError* error = finish(finished.result);
    lib.Unref(finished.result);
    lib.Unref(cancellable);
    lib.PopContext(context);
    if (!error)
        return;
    const std::string message = std::string(action) + ": " + error->message;
    const bool absent =
        error->domain == lib.DBusErrorQuark() &&
        (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
         error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND);
    lib.ErrorFree(error);
    if (finished.timedOut)
        throw ESecretStoreNoAnswer(std::string_view("The keyring did not answer."));
    if (absent)
        throw ESecretStoreAbsent(message);
    throw ESecretStoreError(message);
}

class SecretServiceStore : public SecretStore {
public:
    std::optional<std::string> Read(const std::u16string& entry) override {
        UnlockDefaultCollection(false);
        const std::string name = TextToUtf8(entry);
        const SecretLibrary& lib = *Library();
        gchar* secret = nullptr;
        Await(
            [&](GCancellable* cancel, GAsyncReadyCallback ready, gpointer data) {
                lib.Lookup(TokenSchema(), cancel, ready, data, "application", kApplication, "entry",
                           name.c_str(), nullptr);
            },
            [&](GAsyncResult* result) {
                GError* error = nullptr;
                secret = lib.LookupFinish(result, &error);
                return error;
            },
            SecretStoreCallLimit, "Secret Service lookup failed");
        if (!secret)
            return std::nullopt;
        std::string value(secret);
        lib.PasswordFree(secret);
        return value;
    }

    void Write(const std::u16string& entry, const std::string& secret) override {
        UnlockDefaultCollection(true);
        const std::string name = TextToUtf8(entry);
        const std::string label = "Brevgluggen sign-in: " + name;
        const SecretLibrary& lib = *Library();
        Await(
            [&](GCancellable* cancel, GAsyncReadyCallback ready, gpointer data) {
                lib.Store(TokenSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret.c_str(), cancel,
                          ready, data, "application", kApplication, "entry", name.c_str(), nullptr);
            },
            [&](GAsyncResult* result) {
                GError* error = nullptr;
                lib.StoreFinish(result, &error);
                return error;
            },
            SecretStoreCallLimit, "Secret Service store failed");
    }

    void Erase(const std::u16string& entry) override {
        UnlockDefaultCollection(false);
        const std::string name = TextToUtf8(entry);
        const SecretLibrary& lib = *Library();
        Await(
            [&](GCancellable* cancel, GAsyncReadyCallback ready, gpointer data) {
                lib.Clear(TokenSchema(), cancel, ready, data, "application", kApplication, "entry",
                          name.c_str(), nullptr);
            },
            [&](GAsyncResult* result) {
                GError* error = nullptr;
                lib.ClearFinish(result, &error);
                return error;
            },
            SecretStoreCallLimit, "Secret Service removal failed");
    }

    std::u16string Where() const override { return u"Secret Service"; }

    // Whether the service answers, without a prompt: raises what Await raises.
    void Reach() {
        if (SecretCollection* collection = DefaultCollection(Service()))
            Library()->Unref(collection);
    }

private:
    SecretService* Service() {
        if (service_)
            return service_;
        const SecretLibrary& lib = *Library();
        Await([&](GCancellable* cancel, GAsyncReadyCallback ready,
                  gpointer data) { lib.ServiceGet(SECRET_SERVICE_NONE, cancel, ready, data); },
              [&](GAsyncResult* result) {
                  GError* error = nullptr;
                  service_ = lib.ServiceGetFinish(result, &error);
                  return error;
              },
              SecretStoreCallLimit, "Secret Service unreachable");
        return service_;
    }

    // The default collection, or nullptr when the service has none. Raises what Await raises.
    SecretCollection* DefaultCollection(SecretService* service) {
        const SecretLibrary& lib = *Library();
        SecretCollection* collection = nullptr;
        Await(
            [&](GCancellable* cancel, GAsyncReadyCallback ready, gpointer data) {
                lib.ForAlias(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancel, ready, data);
            },
            [&](GAsyncResult* result) {
                GError* error = nullptr;
                collection = lib.ForAliasFinish(result, &error);
                return error;
            },
            SecretStoreCallLimit, "Secret Service unreachable");
        return collection;
    }

    // A locked default collection is unlocked through the service's prompt; with create, a
    // missing one is created through it. Raises ESecretStoreShut when the prompt was refused or
    // could not be shown (then and for every later call of this store), and what Await raises.
    void UnlockDefaultCollection(bool create) {
        if (refused_)
            throw ESecretStoreShut(std::string_view("The keyring stayed locked."));
        const SecretLibrary& lib = *Library();
        SecretService* service = Service();
        SecretCollection* collection = DefaultCollection(service);
        if (!collection && !create)
            return;
        try {
            if (!collection) {
                Await(
                    [&](GCancellable* cancel, GAsyncReadyCallback ready, gpointer data) {
                        lib.CreateCollection(service, "Login", SECRET_COLLECTION_DEFAULT,
                                             SECRET_COLLECTION_CREATE_NONE, cancel, ready, data);
                    },
                    [&](GAsyncResult* result) {
                        GError* error = nullptr;
                        collection = lib.CreateCollectionFinish(result, &error);
                        return error;
                    },
                    SecretStorePromptLimit, "No keyring");
            } else if (lib.CollectionLocked(collection)) {
                GList* objects = lib.ListAppend(nullptr, collection);
                gint unlocked = 0;
                Await([&](GCancellable* cancel, GAsyncReadyCallback ready,
                          gpointer data) { lib.Unlock(service, objects, cancel, ready, data); },
                      [&](GAsyncResult* result) {
                          GError* error = nullptr;
                          GList* list = nullptr;
                          unlocked = lib.UnlockFinish(service, result, &list, &error);
                          lib.ListFreeFull(list, lib.Unref);
                          return error;
                      },
                      SecretStorePromptLimit, "The keyring stayed locked");
                lib.ListFree(objects);
                if (unlocked == 0)
                    collection = (lib.Unref(collection), nullptr);
            }
        } catch (const ESecretStoreNoAnswer&) {
            if (collection)
                lib.Unref(collection);
            throw;
        } catch (const ESecretStoreError&) {
            collection = collection ? (lib.Unref(collection), nullptr) : nullptr;
        }
        if (!collection) {
            refused_ = true;
            throw ESecretStoreShut(std::string_view("The keyring stayed locked."));
        }
        lib.Unref(collection);
    }

    SecretService* service_ = nullptr;
    bool refused_ = false;
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
    if (!SessionBusKnown() || !Library())
        return nullptr;
    auto store = std::make_unique<SecretServiceStore>();
    try {
        store->Reach();
    } catch (const ESecretStoreNoAnswer&) {
        // The service is there but does not answer now: its calls will say so, and nothing is
        // kept elsewhere in its place.
    } catch (const ESecretStoreError&) {
        return nullptr;
    }
    return store;
}

void SetSecretLibraryForTesting(const char* name) {
    libraryName = name;
}
