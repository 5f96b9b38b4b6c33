// The outermost frame of the programs' main: what escapes becomes one line and status 2.
#include "platform/guarded_main.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/one_line.h"

namespace {

struct Outcome {
    int status;
    std::string errors;
};

Outcome RunCapturing(const std::function<int()>& body) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* errors = open_memstream(&buffer, &size);
    const int status = RunGuarded("prog", body, errors);
    std::fclose(errors);
    Outcome outcome{status, std::string(buffer, size)};
    std::free(buffer);
    return outcome;
}

TEST(GuardedMain, StatusPassesThroughAndEscapesBecomeOneLineWithStatusTwo) {
    struct Case {
        const char* what;
        std::function<int()> body;
        int status;
        std::string errors;
    };
    const Case cases[] = {
        {"success", [] { return 0; }, 0, ""},
        {"own failure status", [] { return 1; }, 1, ""},
        {"memory exhausted", []() -> int { throw std::bad_alloc(); }, 2,
         "prog: stopped by an unexpected error: std::bad_alloc\n"},
        {"thread not started",
         []() -> int {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
         },
         2, "prog: stopped by an unexpected error: thread: Resource temporarily unavailable\n"},
        // A description quoting a file name must not split the line or drive the terminal.
        {"control characters", []() -> int { throw std::runtime_error("a\nb\r\x1b[2J"); }, 2,
         "prog: stopped by an unexpected error: a\\nb\\r\\x1B[2J\n"},
        {"not a std::exception", []() -> int { throw 42; }, 2,
         "prog: stopped by an unexpected error\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunCapturing(c.body);
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.errors, c.errors) << c.what;
    }
}

TEST(OneLine, EscapesEveryControlCharacterAndKeepsTheRest) {
    EXPECT_EQ(OneLine("plain ä/ü name.bds"), "plain ä/ü name.bds");
    EXPECT_EQ(OneLine(std::string("\t\x01\x7f\x1f end\0", 9)), "\\t\\x01\\x7F\\x1F end\\x00");
    // Characters that turn or hide the text around them, and bytes that are not UTF-8.
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"a\u202Egpj.exe", "a\\u202Egpj.exe"},  // right-to-left override
        {"\u2066x\u2069\u200B\uFEFF\u00AD", "\\u2066x\\u2069\\u200B\\uFEFF\\u00AD"},
        {"\u2028\u2029", "\\u2028\\u2029"},  // line and paragraph separators
        {"\xC2\x9B"
         "31m \xC2\x85",
         "\\u009B31m \\u0085"},               // C1 controls (CSI, NEL)
        {"\xF3\xA0\x80\x81", "\\U000E0001"},  // a tag character
        {"\x9B"
         "31m\xE9",
         "\\x9B31m\\xE9"},  // Latin-1 bytes, not UTF-8
        {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80",
         "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80"},
        {"\xE2\x82", "\\xE2\\x82"},                                      // cut short
        {"°C \u00A0 \u05D0 \U0001F525", "°C \u00A0 \u05D0 \U0001F525"},  // visible: kept
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OneLine(c.text), c.shown) << c.text;
    }
    EXPECT_EQ(PrintableLines("M\r\nT\tx\xC2\x9B\x1B[2J\r\n"), "M\r\nT\tx\\u009B\\x1B[2J\r\n");
}

}  // namespace
