#pragma once
// The options of one `thermal` command, and the one way every command reads its command line:
// options may stand anywhere, "--" ends them, an option's value is the next argument (whatever
// it starts with), and everything else is a positional argument ("-" and "" too). A wrong value
// reads "NAME takes WHAT" whether it is missing, malformed or out of range. The tool's main
// thread only.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ranged_number.h"

class COptionTable {
  public:
    // An option without a value.
    void Flag(std::string name, std::function<void()> apply);
    void Flag(std::string name, bool& target);
    // An option with a value; `apply` returns false when the value is not what `takes` says
    // ("a directory", "LOW:HIGH, two numbers").
    void Value(std::string name, std::string takes, std::function<bool(std::string_view)> apply);
    // A value that must not be empty.
    void Text(std::string name, std::string takes, std::string& target);
    // One of `choices`, spelt exactly; `apply` gets its index.
    void Choice(std::string name, std::vector<std::string> choices,
                std::function<void(std::size_t)> apply);
    // A number from `low` to `high` (whole when `Number` is).
    template <typename Number>
    void Ranged(std::string name, Number low, Number high, std::function<void(Number)> apply) {
        Value(std::move(name), RangeText(low, high), [=](std::string_view text) {
            const auto number = ParseRangedNumber<Number>(text, low, high);
            if (number) {
                apply(*number);
            }
            return number.has_value();
        });
    }

    // Reads the arguments after the command's name, applying each option as it comes and
    // collecting the others in `positional`. Returns the empty string, or what is wrong (one
    // line, without the program's prefix).
    std::string Parse(int argc, char** argv, std::vector<std::string>& positional) const;

  private:
    struct Option {
        std::string name;
        std::string takes;  // empty for a flag
        std::function<bool(std::string_view)> apply;
    };
    std::vector<Option> m_options;
};

// True when the arguments ask for the command's help (-h or --help before any "--"), which
// then wins over anything else on the line.
bool AsksForHelp(int argc, char** argv);

// Prints "thermal COMMAND: MESSAGE (see 'thermal COMMAND --help')" on standard error as one line
// and returns the status of a bad command line, 2.
int CommandLineError(const char* command, const std::string& message);
