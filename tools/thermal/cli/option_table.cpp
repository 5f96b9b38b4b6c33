#include "cli/option_table.h"

#include <cstdio>
#include <utility>

#include "platform/one_line.h"

void COptionTable::Flag(std::string name, std::function<void()> apply) {
    m_options.push_back({std::move(name), {}, [apply = std::move(apply)](std::string_view) {
                             apply();
                             return true;
                         }});
}

void COptionTable::Flag(std::string name, bool& target) {
    Flag(std::move(name), [&target] { target = true; });
}

void COptionTable::Value(std::string name, std::string takes,
                         std::function<bool(std::string_view)> apply) {
    m_options.push_back({std::move(name), std::move(takes), std::move(apply)});
}

void COptionTable::Text(std::string name, std::string takes, std::string& target) {
    Value(std::move(name), std::move(takes), [&target](std::string_view text) {
        target = text;
        return !text.empty();
    });
}

void COptionTable::Choice(std::string name, std::vector<std::string> choices,
                          std::function<void(std::size_t)> apply) {
    std::string takes;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        takes += i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ";
        takes += choices[i];
    }
    Value(std::move(name), std::move(takes), [choices, apply](std::string_view text) {
        for (std::size_t i = 0; i < choices.size(); ++i) {
            if (text == choices[i]) {
                apply(i);
                return true;
            }
        }
        return false;
    });
}

std::string COptionTable::Parse(int argc, char** argv, std::vector<std::string>& positional) const {
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            positional.emplace_back(arg);
            continue;
        }
        const Option* option = nullptr;
        for (const Option& candidate : m_options) {
            if (candidate.name == arg) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            std::string error = "unknown option '";
            error.append(arg).append("'");
            return error;
        }
        if (option->takes.empty()) {
            option->apply({});
            continue;
        }
        // A missing value is as wrong as a bad one, and said the same way.
        if (i + 1 >= argc || !option->apply(argv[++i])) {
            std::string error = option->name;
            error.append(" takes ").append(option->takes);
            return error;
        }
    }
    return {};
}

bool AsksForHelp(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            return false;
        }
        if (arg == "-h" || arg == "--help") {
            return true;
        }
    }
    return false;
}

int CommandLineError(const char* command, const std::string& message) {
    std::fprintf(stderr, "thermal %s: %s (see 'thermal %s --help')\n", command,
                 OneLine(message).c_str(), command);
    return 2;
}
