#include "app/BackgroundTokens.h"

// The store and its keyring, touched by one piece of work at a time (the queue starts the next
// piece only after the last one reported).
struct BackgroundTokens::Held {
    KeyringOrFile* keyring = nullptr; // owned by store
    std::unique_ptr<TokenStore> store;
};

BackgroundTokens::BackgroundTokens(OAuthClient client, std::u16string entry, std::u16string folder)
    : client_(client), held_(std::make_shared<Held>()) {
    auto keyring = std::make_unique<KeyringOrFile>(std::move(folder));
    held_->keyring = keyring.get();
    held_->store = std::make_unique<TokenStore>(std::move(client), std::move(keyring), std::move(entry));
}

BackgroundTokens::~BackgroundTokens() = default;

void BackgroundTokens::ReadStored(Done done) {
    Enqueue([](TokenStore& store) { return std::optional<bool>(store.HasRefreshToken()); }, std::move(done));
}

void BackgroundTokens::AccessToken(bool afterRejection,
                                   std::function<void(std::string token, std::exception_ptr failure)> done) {
    auto token = std::make_shared<std::string>();
    Enqueue(
        [token, afterRejection](TokenStore& store) {
            if (afterRejection)
                store.Rejected(true);
            *token = store.AccessToken();
            return std::optional<bool>(true);
        },
        [token, done = std::move(done)](std::exception_ptr failure) { done(*token, failure); });
}

void BackgroundTokens::RejectedAgain(Done done) {
    Enqueue(
        [](TokenStore& store) {
            store.Rejected(false);
            return std::optional<bool>();
        },
        std::move(done));
}

void BackgroundTokens::ExchangeCode(std::string code, std::string redirectUri, std::string verifier,
                                    Done done) {
    Enqueue(
        [code, redirectUri, verifier](TokenStore& store) {
            store.ExchangeCode(code, redirectUri, verifier);
            return std::optional<bool>(true);
        },
        std::move(done));
}

void BackgroundTokens::SignOut(Done done) {
    Enqueue(
        [](TokenStore& store) {
            store.SignOut();
            return std::optional<bool>(false);
        },
        std::move(done));
}

void BackgroundTokens::Enqueue(Piece piece, Done done) {
    queue_.emplace_back(std::move(piece), std::move(done));
    if (queue_.size() == 1)
        StartNext();
}

void BackgroundTokens::StartNext() {
    auto report = std::make_shared<Report>(last_);
    std::shared_ptr<Held> held = held_;
    Piece piece = queue_.front().first;
    work_.Run(
        [held, piece, report] {
            // The report is taken also when the piece fails: the store's state may have changed.
            struct Take {
                Held& held;
                Report& report;
                ~Take() {
                    report.signInNeeded = held.store->SignInNeeded();
                    report.cause = held.store->Cause();
                    report.refusal = held.store->Refusal();
                    report.keyring = held.keyring->State();
                    report.where = held.keyring->Where();
                }
            } take{*held, *report};
            if (const std::optional<bool> stored = piece(*held->store))
                report->stored = stored;
        },
        [this, report](std::exception_ptr failure) {
            last_ = *report;
            Done done = std::move(queue_.front().second);
            queue_.pop_front();
            if (!queue_.empty())
                StartNext();
            done(failure);
        });
}
