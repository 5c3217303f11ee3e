#pragma once
// A fresh main window per test, with a scripted POP3 client, recorded sounds and error reports,
// and no settings file left over from another test.

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "base/Exceptions.h"
#include "base/Text.h"
#include "pop3/Pop3Errors.h"
#include "shell/Sound.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

// The server side of a check: a count, or a refused connection.
class ScriptedPOP3 : public TIdPOP3 {
public:
    std::optional<int32_t> count;
    std::u16string connectError = u"Socket Error # 10061\r\nConnection refused.";
    std::optional<std::u16string> refusedReplyCode; // fail with a refused reply instead
    bool closeFails = false;
    bool openQueryFails = false;
    bool stayOpenAfterFailure = false;
    int connects = 0;
    int closes = 0;
    std::vector<std::string> newHeaders; // what the header fetch of a growing check gives
    std::vector<std::string> newIds;     // their ids, where given
    bool headerFetchFails = false;
    int headerFetches = 0;

    void ConnectAndLogIn() override {
        ++connects;
        if (!count) {
            open_ = stayOpenAfterFailure;
            if (refusedReplyCode)
                throw EIdReplyPOP3Error(*refusedReplyCode, connectError);
            throw EIdSocketError(10061, connectError);
        }
        open_ = true;
    }
    int32_t QueryMessageCount() override { return *count; }
    std::vector<NewMessageHeader> RetrieveNewHeaders(int32_t, int32_t, int32_t) override {
        ++headerFetches;
        if (headerFetchFails)
            throw EIdReadTimeout(std::string_view("Read timed out."));
        std::vector<NewMessageHeader> messages;
        for (size_t i = 0; i < newHeaders.size(); ++i)
            messages.push_back({i < newIds.size() ? newIds[i] : "", newHeaders[i]});
        return messages;
    }
    void CloseSession(bool) override {
        ++closes;
        if (closeFails)
            throw EIdClosedSocket(std::string_view("Disconnected."));
        open_ = false;
    }
    bool TcpConnectionIsOpen() override {
        if (openQueryFails)
            throw EIdNotASocket(10038, u"Socket Error # 10038\r\nSocket operation on non-socket.");
        return open_;
    }

private:
    bool open_ = false;
};

struct PlayedSound {
    std::u16string path;
    bool async;
};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        RemoveSettingsFile();
        // As the program entry sets it; an English window creation changes it.
        Application->SetTitle(u"Brevgluggen 1.10");
        SetCommandLineArguments({u"/ENGLISH"});
        SetThousandSeparator(u',');
        // Of this process alone: suites of other builds run beside it and remove theirs.
        soundFile_ = std::filesystem::temp_directory_path() /
                     ("bg_test_sound_" + std::to_string(QCoreApplication::applicationPid()) + ".wav");
        std::ofstream(soundFile_) << "RIFF";
        SetSoundOutputForTesting([this](std::u16string_view path, bool async) {
            sounds.push_back({std::u16string(path), async});
        });
        Application->SetOnException([this](const Exception& error) { errors.push_back(error.Message()); });
    }

    void TearDown() override {
        window.reset();
        SetSoundOutputForTesting(nullptr);
        Application->SetOnException(nullptr);
        SetThousandSeparator(std::nullopt);
        SetCommandLineArguments({});
        std::filesystem::remove(soundFile_);
        RemoveSettingsFile();
    }

    // The settings file, and the messages earlier notices named.
    static void RemoveSettingsFile() {
        for (const std::u16string& path : {SettingsFilePath(), AnnouncedMessages::DefaultFile()})
            if (!path.empty())
                std::filesystem::remove(std::filesystem::u8path(TextToUtf8(path)));
    }

    // True once the settings file keeps what is written to it.
    static bool SettingsFileWorks() {
        WriteIniString(u"Main", u"Probe", u"kept");
        const bool works = ReadIniString(u"Main", u"Probe", u"") == u"kept";
        RemoveSettingsFile();
        return works;
    }

    // Creates the window (shown, as no settings exist) with the scripted client in place.
    void CreateWindow() {
        window = std::make_unique<TfrmMain>();
        auto client = std::make_unique<ScriptedPOP3>();
        pop3 = client.get();
        ReplacePop3Client(std::move(client));
    }
    void ReplacePop3Client(std::unique_ptr<TIdPOP3> client) {
        window->Mailboxes().front()->ReplacePop3ClientForTesting(std::move(client));
    }

    // Fills the six fields and hides the window, so that checks go ahead.
    void CreateResidentWindow() {
        CreateWindow();
        window->txtPOP3Server.SetText(u"127.0.0.1");
        window->txtUserName.SetText(u"anna");
        window->txtPassword.SetText(u"secret");
        window->txtPathToClient.SetText(u"/usr/bin/true");
        window->txtPathToSound.SetText(SoundPath());
        window->Hide();
        window->StoreSettings();
    }

    // A check with the given outcome, started by a timer tick.
    void CheckFinding(std::optional<int32_t> count) {
        pop3->count = count;
        StoreAndTick();
    }
    // A timer tick with the settings as the boxes hold them, once the checks it starts have ended.
    void StoreAndTick() {
        window->StoreSettings();
        window->TimerMain.Tick();
        WaitForChecks();
    }
    // Handles events until every check (and the work on its token) has reported.
    void WaitForChecks() {
        for (int i = 0; i < 2000 && window->ChecksRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            Application->ProcessMessages();
        }
    }
    int32_t LastCount() const { return window->Mailboxes().front()->LastCount(); }

    std::u16string SoundPath() const { return Utf8ToText(soundFile_.string()); }
    std::u16string Hint() const { return window->TrayIconMain.Hint(); }
    int ImageIndex() const { return window->TrayIconMain.ImageIndex(); }

    std::unique_ptr<TfrmMain> window;
    ScriptedPOP3* pop3 = nullptr;
    std::vector<PlayedSound> sounds;
    std::vector<std::u16string> errors;

private:
    std::filesystem::path soundFile_;
};
