#pragma once
// The numbers of the `thermal` command lines: the whole text must be one number within the
// option's range, and a number that is not says so in the same words for every option.
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// `text` as a number from `low` to `high`, or nothing: no sign other than a leading '-', no
// spaces, nothing after it; NaN and the infinities are never in range.
template <typename Number>
std::optional<Number> ParseRangedNumber(std::string_view text, Number low, Number high) {
    Number value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !(value >= low && value <= high)) {
        return std::nullopt;
    }
    return value;
}

// A bound of a range of fractional numbers as the user would type it: "0.001", "100000".
std::string BoundText(double bound);

// How a value of the range reads in a message: "a whole number from 1 to 8", "a number from
// 0.001 to 100000".
template <typename Number>
std::string RangeText(Number low, Number high) {
    if constexpr (std::is_integral_v<Number>) {
        return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    } else {
        return "a number from " + BoundText(low) + " to " + BoundText(high);
    }
}
