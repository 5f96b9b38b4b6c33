#include "platform/guarded_main.h"

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

}  // namespace

int RunGuarded(std::string_view program, const std::function<int()>& run, std::FILE* errors) {
    try {
        return run();
    } catch (const std::exception& error) {
        PrintStop(program, error.what(), errors);
    } catch (...) {
        PrintStop(program, nullptr, errors);
    }
    return 2;
}
