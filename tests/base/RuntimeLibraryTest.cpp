#include <gtest/gtest.h>

#include "base/RuntimeLibrary.h"

namespace {

TEST(RuntimeLibrary, BindsAFunctionThatThenWorks) {
    RuntimeLibrary math("libm.so.6");
    double (*cosine)(double) = nullptr;
    math.Bind(cosine, "cos");
    EXPECT_EQ(cosine(0.0), 1.0);
}

// A missing library or function is a clear error naming what is missing, never a crash.
TEST(RuntimeLibrary, MissingLibraryOrFunctionIsAnErrorNamingIt) {
    struct Case {
        const char* soname;
        const char* symbol;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"libbrevgluggen-absent.so.0", nullptr, {"libbrevgluggen-absent.so.0", "could not be loaded"}},
        {"libm.so.6", "no_such_function_here", {"libm.so.6", "lacks no_such_function_here"}},
    };
    for (const Case& c : cases) {
        try {
            RuntimeLibrary library(c.soname);
            library.Symbol(c.symbol);
            ADD_FAILURE() << c.soname << " " << c.symbol << ": no error";
        } catch (const ELibraryUnavailable& e) {
            for (const std::string& part : c.named)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    }
}

} // namespace
