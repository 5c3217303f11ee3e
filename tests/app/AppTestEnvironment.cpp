// One application object for the whole test program, on Qt's offscreen platform.

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "shell/Application.h"
#include "shell/Window.h"

namespace {

class ApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // What the program keeps between runs goes to a folder of this process, not the user's.
        stateFolder_ = std::filesystem::temp_directory_path() / ("bg_test_state_" + std::to_string(getpid()));
        setenv("XDG_STATE_HOME", stateFolder_.c_str(), 1);
        application_ = std::make_unique<TApplication>(argc_, argv_);
        Application->SetTitle(u"Brevgluggen 1.10");
    }
    void TearDown() override {
        application_.reset();
        std::filesystem::remove_all(stateFolder_);
    }

private:
    int argc_ = 1;
    char programName_[12] = "test_app";
    char* argv_[2] = {programName_, nullptr};
    std::unique_ptr<TApplication> application_;
    std::filesystem::path stateFolder_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace
