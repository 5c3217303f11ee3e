// One application object for the whole test program, on Qt's offscreen platform.

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "shell/Application.h"
#include "shell/Window.h"

namespace {

class ApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        application_ = std::make_unique<TApplication>(argc_, argv_);
        Application->SetTitle(u"Brevgluggen 1.10");
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char programName_[12] = "test_app";
    char* argv_[2] = {programName_, nullptr};
    std::unique_ptr<TApplication> application_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace
