// The refresh token in an owner-only file of the settings folder, where no system secret store
// answers. One line per entry: the entry's name and the secret, both base64, a blank between them.
// Every change writes a new owner-only file and renames it over the old one (OwnerOnlyFile.h).
#include <algorithm>
#include <map>

#include "base/Base64.h"
#include "base/Text.h"
#include "signin/OwnerOnlyFile.h"
#include "signin/SecretStore.h"

namespace {

class SecretFile : public SecretStore {
public:
    explicit SecretFile(std::u16string path) : path_(std::move(path)) {}

    std::optional<std::string> Read(const std::u16string& entry) override {
        const auto entries = Load();
        const auto found = entries.find(TextToUtf8(entry));
        if (found == entries.end())
            return std::nullopt;
        return found->second;
    }
    void Write(const std::u16string& entry, const std::string& secret) override {
        auto entries = Load();
        entries[TextToUtf8(entry)] = secret;
        Save(entries);
    }
    void Erase(const std::u16string& entry) override {
        auto entries = Load();
        if (entries.erase(TextToUtf8(entry)) == 0)
            return;
        if (entries.empty()) {
            RemoveOwnerOnlyFile(path_);
        } else {
            Save(entries);
        }
    }
    std::u16string Where() const override { return path_; }

private:
    std::map<std::string, std::string> Load() const {
        std::map<std::string, std::string> entries;
        const std::string text = ReadOwnerOnlyFile(path_).value_or(std::string());
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = std::min(text.find('\n', start), text.size());
            const std::string line = text.substr(start, end - start);
            const size_t blank = line.find(' ');
            if (blank == std::string::npos)
                continue;
            const auto name = Base64Decode(line.substr(0, blank));
            const auto secret = Base64Decode(line.substr(blank + 1));
            if (name && secret)
                entries[*name] = *secret;
        }
        return entries;
    }

    void Save(const std::map<std::string, std::string>& entries) {
        std::string text;
        for (const auto& [name, secret] : entries)
            text += Base64Encode(name) + " " + Base64Encode(secret) + "\n";
        ReplaceOwnerOnlyFile(path_, text);
    }

    std::u16string path_;
};

} // namespace

std::unique_ptr<SecretStore> OpenSecretFile(const std::u16string& folder) {
    std::u16string path = folder;
    if (!path.empty() && path.back() != PathSeparator && path.back() != u'/')
        path += PathSeparator;
    return std::make_unique<SecretFile>(path + u"brevgluggen.token");
}
