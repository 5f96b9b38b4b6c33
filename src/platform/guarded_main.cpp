#include "platform/guarded_main.h"

#include <cstdlib>
#include <exception>
#include <string>

#include "platform/one_line.h"

namespace {

// Called while memory may be exhausted: the description is left out if it cannot be built.
void PrintStop(std::string_view program, const char* what, std::FILE* errors) {
    std::string description;
    if (what != nullptr) {
        try {
            description = ": " + OneLine(what);
        } catch (...) {
            description.clear();
        }
    }
    std::fprintf(errors, "%.*s: stopped by an unexpected error%s\n",
                 static_cast<int>(program.size()), program.data(), description.c_str());
    std::fflush(errors);
}

// Who RunGuarded runs, for the terminate handler; set before the handler is.
std::string_view g_program;
std::FILE* g_errors = stderr;

// The runtime ends the program itself when it cannot go on: memory ran out so far that not even
// an exception could be made for it, or an exception left a thread. Still one line and status 2;
// the stack is not unwound, so files under temporary names may stay behind, never a half-written
// file under its final name.
[[noreturn]] void OnTerminate() {
    const char* what = nullptr;
    if (const std::exception_ptr pending = std::current_exception()) {
        try {
            std::rethrow_exception(pending);
        } catch (const std::exception& error) {
            what = error.what();
        } catch (...) {
        }
    }
    PrintStop(g_program, what, g_errors);
    std::_Exit(2);
}

}  // namespace

int RunGuarded(std::string_view program, const std::function<int()>& run, std::FILE* errors) {
    g_program = program;
    g_errors = errors;
    std::set_terminate(OnTerminate);
    try {
        return run();
    } catch (const std::exception& error) {
        PrintStop(program, error.what(), errors);
    } catch (...) {
        PrintStop(program, nullptr, errors);
    }
    return 2;
}
