// The mail check: tray state table, sound on growth, failures and the conditions that skip it.

#include <chrono>
#include <thread>

#include "base/Integers.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/ScriptedServer.h"

using CheckMailboxTest = MainWindowTest;

namespace {

using TrayRow = std::pair<int32_t, std::u16string>;

} // namespace

class TrayTableTest : public MainWindowTest {
protected:
    void ExpectRows(std::initializer_list<TrayRow> rows) {
        CreateResidentWindow();
        for (const auto& [count, tip] : rows) {
            CheckFinding(count);
            EXPECT_EQ(ImageIndex(), count == 0 ? 0 : 1) << count;
            EXPECT_EQ(Hint(), tip) << count;
            EXPECT_EQ(LastCount(), count);
        }
    }
};

TEST_F(TrayTableTest, English) {
    ExpectRows({{0, u"You have no new e-mail messages."},
                {1, u"You have 1 new e-mail message."},
                {3, u"You have 3 new e-mail messages."},
                {-3, u"You have 3 new e-mail messages."},
                {1234, u"You have 1,234 new e-mail messages."}});
}

TEST_F(TrayTableTest, SwedishWithABlankAsSeparator) {
    SetCommandLineArguments({u"/SWEDISH"});
    SetThousandSeparator(u' ');
    ExpectRows({{0, u"Du har inga nya e-postmeddelanden."},
                {1, u"Du har 1 nytt e-postmeddelande."},
                {3, u"Du har 3 nya e-postmeddelanden."},
                {-3, u"Du har 3 nya e-postmeddelanden."},
                {1234, u"Du har 1 234 nya e-postmeddelanden."}});
}

TEST_F(CheckMailboxTest, SoundPlaysOnlyWhenTheCountGrows) {
    CreateResidentWindow();
    CheckFinding(3);
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].path, SoundPath());
    EXPECT_TRUE(sounds[0].async);
    CheckFinding(3);
    CheckFinding(2);
    CheckFinding(-5);
    EXPECT_EQ(sounds.size(), 1u);
    CheckFinding(4);
    EXPECT_EQ(sounds.size(), 2u);
}

// The notice of each check, with the headers the client fetched for the new messages.
TEST_F(CheckMailboxTest, NoticeNamesTheNewestNewMessagesWhenTheCountGrows) {
    const std::string latin1 =
        "From: =?ISO-8859-1?Q?=C5sa?= <asa@example.test>\r\nSubject: =?ISO-8859-1?Q?M=F6te?=\r\n";
    const std::string bare = "From: <x@example.test>\r\n";
    const std::string longSubject = "From: a@b\r\nSubject: " + std::string(100, 's') + "\r\n";
    const struct {
        const char* what;
        std::optional<int32_t> count;
        bool notify;
        std::vector<std::string> headers;
        int fetches;                  // header fetches so far
        std::u16string summary, body; // empty summary: no notice
    } checks[] = {
        {"first check finds two",
         2,
         true,
         {latin1, bare},
         1,
         u"2 new e-mail messages",
         u"Åsa: Möte\nx@example.test: (no subject)"},
        {"count stays", 2, true, {latin1}, 1, u"", u""},
        {"count falls", 1, true, {latin1}, 1, u"", u""},
        {"a failed check", std::nullopt, true, {latin1}, 1, u"", u""},
        {"five more, three named",
         6,
         true,
         {latin1, bare, longSubject},
         2,
         u"5 new e-mail messages",
         u"Åsa: Möte\nx@example.test: (no subject)\na@b: " + std::u16string(79, u's') +
             u"\u2026\nand 2 more"},
        {"no headers (no TOP): the summary alone", 7, true, {}, 3, u"1 new e-mail message", u""},
        {"notices off: no fetch, no notice", 9, false, {latin1}, 3, u"", u""},
    };
    CreateResidentWindow();
    int notices = 0;
    for (const auto& check : checks) {
        SCOPED_TRACE(check.what);
        window->cbNotify.SetChecked(check.notify);
        pop3->newHeaders = check.headers;
        CheckFinding(check.count);
        EXPECT_EQ(pop3->headerFetches, check.fetches);
        notices += check.summary.empty() ? 0 : 1;
        ASSERT_EQ(window->TrayIconMain.NoticeCount(), notices);
        if (!check.summary.empty()) {
            EXPECT_EQ(window->TrayIconMain.NoticeSummary(), check.summary);
            EXPECT_EQ(window->TrayIconMain.NoticeBody(), check.body);
        }
    }
    SetCommandLineArguments({u"/SWEDISH"});
    pop3->newHeaders = {bare};
    window->cbNotify.SetChecked(true);
    CheckFinding(10);
    EXPECT_EQ(window->TrayIconMain.NoticeSummary(), u"1 nytt e-postmeddelande");
    EXPECT_EQ(window->TrayIconMain.NoticeBody(), u"x@example.test: (inget ämne)");
}

// Each row a run of the program (a new window) with one check: what earlier notices named is
// remembered, so old mail gives no notice after a restart, while the sound still plays as the
// count grows from 0.
TEST_F(CheckMailboxTest, NoticeNamesOnlyMailNoEarlierRunAnnounced) {
    const std::string a = "From: a@x\r\nSubject: A\r\n", b = "From: b@x\r\nSubject: B\r\n",
                      c = "From: c@x\r\nSubject: C\r\n";
    const struct {
        const char* what;
        std::u16string user;
        std::vector<std::string> headers, ids; // newest first
        std::u16string summary, body;          // empty summary: no notice
    } runs[] = {
        {"two arrive", u"anna", {b, a}, {"id-b", "id-a"}, u"2 new e-mail messages", u"b@x: B\na@x: A"},
        {"restart, nothing new", u"anna", {b, a}, {"id-b", "id-a"}, u"", u""},
        {"restart, one new",
         u"anna",
         {c, b, a},
         {"id-c", "id-b", "id-a"},
         u"1 new e-mail message",
         u"c@x: C"},
        {"the same ids in another mailbox",
         u"bertil",
         {b, a},
         {"id-b", "id-a"},
         u"2 new e-mail messages",
         u"b@x: B\na@x: A"},
        {"no ids: named every time", u"anna", {a}, {}, u"1 new e-mail message", u"a@x: A"},
    };
    size_t soundsSoFar = 0;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.what);
        window.reset();
        std::filesystem::remove(std::filesystem::u8path(TextToUtf8(SettingsFilePath())));
        CreateResidentWindow();
        window->txtUserName.SetText(run.user);
        pop3->newHeaders = run.headers;
        pop3->newIds = run.ids;
        CheckFinding(static_cast<int32_t>(run.headers.size()));
        EXPECT_EQ(sounds.size(), ++soundsSoFar);
        EXPECT_EQ(window->TrayIconMain.NoticeCount(), run.summary.empty() ? 0 : 1);
        EXPECT_EQ(window->TrayIconMain.NoticeSummary(), run.summary);
        EXPECT_EQ(window->TrayIconMain.NoticeBody(), run.body);
    }
}

TEST_F(CheckMailboxTest, FailedHeaderFetchKeepsTheCountAndLeavesTheSummaryAlone) {
    CreateResidentWindow();
    pop3->headerFetchFails = true;
    CheckFinding(2);
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.");
    EXPECT_EQ(window->TrayIconMain.NoticeSummary(), u"2 new e-mail messages");
    EXPECT_EQ(window->TrayIconMain.NoticeBody(), u"");
    EXPECT_EQ(pop3->closes, 2); // without "QUIT" after the failure, then the check's own close
    EXPECT_TRUE(errors.empty());
}

TEST_F(CheckMailboxTest, MissingOrFolderSoundPathIsPassedOverSilently) {
    CreateResidentWindow();
    window->txtPathToSound.SetText(u"/nonexistent/bell.wav");
    CheckFinding(1);
    window->txtPathToSound.SetText(Utf8ToText(std::filesystem::temp_directory_path().string()));
    CheckFinding(2);
    EXPECT_TRUE(sounds.empty());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.");
}

// A failed check never shows a count it did not get, also not the previous one; the count it
// last got still decides whether the next success plays the sound.
TEST_F(CheckMailboxTest, FailureShowsTheTroubleImageAndNoCount) {
    const std::u16string refused =
        u"The mailbox could not be checked.\nCheck failed: Socket Error # 10061 Connection refused.";
    const struct {
        const char* what;
        std::optional<int32_t> count;
        int image;
        std::u16string tip;
        int32_t last; // LastMessageCount afterwards
        size_t sounds;
    } checks[] = {
        {"first check fails", std::nullopt, 2, refused, 0, 0},
        {"five arrive", 5, 1, u"You have 5 new e-mail messages.", 5, 1},
        {"server gone", std::nullopt, 2, refused, 5, 1},
        {"back with the same five", 5, 1, u"You have 5 new e-mail messages.", 5, 1},
    };
    CreateResidentWindow();
    for (const auto& check : checks) {
        SCOPED_TRACE(check.what);
        CheckFinding(check.count);
        EXPECT_EQ(ImageIndex(), check.image);
        EXPECT_EQ(Hint(), check.tip);
        EXPECT_EQ(LastCount(), check.last);
        EXPECT_EQ(sounds.size(), check.sounds);
    }
    EXPECT_TRUE(errors.empty()); // no message box
}

TEST_F(CheckMailboxTest, FailureLineIsSwedishAndTheWholeTipStaysWithin127Characters) {
    SetCommandLineArguments({u"/SWEDISH"});
    CreateResidentWindow();
    pop3->connectError = std::u16string(200, u'x');
    CheckFinding(std::nullopt);
    const std::u16string start = u"Brevlådan kunde inte kontrolleras.\nKontrollen misslyckades: xxx";
    EXPECT_EQ(Hint().substr(0, start.size()), start);
    EXPECT_EQ(Hint().size(), TTrayIcon::MaxHintLength);
}

TEST_F(CheckMailboxTest, FailureWithoutAMessageIsNamedInAFewWords) {
    const struct {
        std::optional<std::u16string> replyCode;
        std::u16string message;
        std::u16string failureLine;
    } failures[] = {
        {u"-ERR", u"", u"Check failed: unexpected reply (-ERR)"},
        {u"-ERR", u"\r\n", u"Check failed: unexpected reply (-ERR)"},
        {std::nullopt, u" ", u"Check failed: unexpected error"},
    };
    CreateResidentWindow();
    for (const auto& failure : failures) {
        pop3->refusedReplyCode = failure.replyCode;
        pop3->connectError = failure.message;
        CheckFinding(std::nullopt);
        EXPECT_EQ(Hint(), u"The mailbox could not be checked.\n" + failure.failureLine);
    }
}

TEST_F(CheckMailboxTest, FailureWhileClosingStillShowsTheNewCount) {
    CreateResidentWindow();
    pop3->closeFails = true;
    CheckFinding(2);
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.");
    EXPECT_EQ(LastCount(), 2);
    EXPECT_EQ(sounds.size(), 1u);
    EXPECT_EQ(pop3->closes, 2); // the session close, then the retry on the error path
}

TEST_F(CheckMailboxTest, ConnectionLeftOpenByAFailureIsClosed) {
    CreateResidentWindow();
    pop3->stayOpenAfterFailure = true;
    CheckFinding(std::nullopt);
    EXPECT_EQ(pop3->closes, 1);
    EXPECT_FALSE(pop3->TcpConnectionIsOpen());
}

TEST_F(CheckMailboxTest, ErrorOfTheOpenConnectionQueryReachesTheErrorReportAndChangesNothing) {
    CreateResidentWindow();
    CheckFinding(4);
    const int updates = window->TrayIconMain.UpdateCount();
    pop3->openQueryFails = true;
    CheckFinding(std::nullopt);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], u"Socket Error # 10038\r\nSocket operation on non-socket.");
    EXPECT_EQ(window->TrayIconMain.UpdateCount(), updates);
    EXPECT_EQ(Hint(), u"You have 4 new e-mail messages.");
    EXPECT_EQ(LastCount(), 4);
}

TEST_F(CheckMailboxTest, UnchangedStateIsNotSentToTheTrayAgain) {
    CreateResidentWindow();
    CheckFinding(3);
    const int updates = window->TrayIconMain.UpdateCount();
    CheckFinding(3);
    EXPECT_EQ(window->TrayIconMain.UpdateCount(), updates);
}

TEST_F(CheckMailboxTest, ClientGetsTheFieldsTimeoutsAndThePortByItsLow16Bits) {
    CreateResidentWindow();
    window->txtPort.SetText(u"70000");
    CheckFinding(0);
    EXPECT_EQ(pop3->Host(), u"127.0.0.1");
    EXPECT_EQ(pop3->Port(), 4464);
    EXPECT_EQ(pop3->Username(), u"anna");
    EXPECT_EQ(pop3->Password(), u"secret");
    EXPECT_EQ(pop3->ConnectTimeout(), 5000);
    EXPECT_EQ(pop3->ReadTimeout(), 5000);
    window->txtPort.SetText(u"abc"); // not a number: the POP3 port
    CheckFinding(0);
    EXPECT_EQ(pop3->Port(), 110);
}

TEST_F(CheckMailboxTest, SkippedWhileTheWindowShowsAlsoMinimized) {
    CreateResidentWindow();
    window->Show();
    CheckFinding(7);
    window->SetWindowState(wsMinimized);
    CheckFinding(7);
    EXPECT_EQ(pop3->connects, 0);
    EXPECT_EQ(Hint(), u"Brevgluggen 1.10");
}

TEST_F(CheckMailboxTest, SkippedWhenAnyOfTheSixFieldsIsEmpty) {
    CreateResidentWindow();
    for (TEdit* edit : {&window->txtPOP3Server, &window->txtPort, &window->txtUserName, &window->txtPassword,
                        &window->txtPathToClient, &window->txtPathToSound}) {
        const std::u16string text = edit->Text();
        edit->SetText(u"");
        CheckFinding(7);
        edit->SetText(text);
    }
    EXPECT_EQ(pop3->connects, 0);
    CheckFinding(7);
    EXPECT_EQ(pop3->connects, 1);
}

// A POP3 server that wants a least time between sign-ins: a check asked for sooner (the hot key,
// a timer tick) waits for it on a one-shot timer, without a failure in the tip, and so does one
// the server refuses as too soon (the program may have started since the last sign-in).
TEST_F(CheckMailboxTest, ChecksSoonerThanTheServersLoginDelayWaitForIt) {
    const Script signIn = {ServerSays("+OK ready"),     ClientSends("CAPA"),       ServerSays("+OK"),
                           ServerSays("LOGIN-DELAY 1"), ServerSays("."),           ClientSends("USER anna"),
                           ServerSays("+OK"),           ClientSends("PASS secret")};
    auto counting = [&](const std::string& count) {
        Script script = signIn;
        for (ScriptStep step : {ServerSays("+OK"), ClientSends("STAT"), ServerSays("+OK " + count + " 9"),
                                ClientSends("QUIT"), ServerSays("+OK")})
            script.push_back(step);
        return script;
    };
    Script refused = signIn;
    refused.push_back(ServerSays("-ERR [LOGIN-DELAY] wait a while"));
    ScriptedServer server(std::vector<Script>{refused, counting("3"), counting("4")});
    CreateResidentWindow();
    ReplacePop3Client(std::make_unique<TIdPOP3>());
    window->txtPort.SetText(IntToText(server.Port()));
    window->cbNotify.SetChecked(false);
    TTimer& wait = window->TimerLoginDelay;
    const auto runTimersUntilConnections = [&](size_t connections) {
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             (wait.Enabled() || window->ChecksRunning()) && std::chrono::steady_clock::now() < until;) {
            Application->ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(server.AcceptedConnections(), connections);
    };

    const std::u16string before = Hint();
    StoreAndTick();
    EXPECT_EQ(Hint(), before);
    EXPECT_TRUE(wait.Enabled());
    EXPECT_GT(wait.Interval(), 1000u);
    runTimersUntilConnections(2);
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");

    // Sooner than a second after that sign-in: the tray keeps the count, one check waits.
    window->TimerMain.Tick();
    window->TimerMain.Tick();
    EXPECT_EQ(server.AcceptedConnections(), 2u);
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");
    EXPECT_TRUE(wait.Enabled());
    runTimersUntilConnections(3);
    EXPECT_EQ(Hint(), u"You have 4 new e-mail messages.");
    EXPECT_FALSE(wait.Enabled());
    EXPECT_TRUE(server.WaitUntilDone());
    EXPECT_TRUE(errors.empty());
}
