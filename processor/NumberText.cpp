#include "processor/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace qvl
{

namespace
{
    bool isSpace (char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    // The bytes as stored: a text from a host state may hold malformed UTF-8, which the
    // framework's measure of its length would read past.
    std::string_view view (const juce::String& text)
    {
        return text.toRawUTF8();
    }

    // Character by character: find_first_not_of takes a call per character, and padding may be
    // megabytes long.
    std::string_view withoutLeadingSpace (std::string_view text)
    {
        while (! text.empty() && isSpace (text.front()))
            text.remove_prefix (1);

        return text;
    }

    std::string_view withoutSpaceAround (std::string_view text)
    {
        text = withoutLeadingSpace (text);

        while (! text.empty() && isSpace (text.back()))
            text.remove_suffix (1);

        return text;
    }

    bool isDigit (char c) { return c >= '0' && c <= '9'; }

    // Takes one leading sign off text; true when it was a minus.
    bool takeSign (std::string_view& text)
    {
        const bool negative = ! text.empty() && text.front() == '-';

        if (! text.empty() && (text.front() == '-' || text.front() == '+'))
            text.remove_prefix (1);

        return negative;
    }

    // The position of the first character that passes, or the size.
    template <typename Predicate>
    std::size_t firstWhere (std::string_view text, Predicate passes)
    {
        return (std::size_t) (std::find_if (text.begin(), text.end(), passes) - text.begin());
    }

    // from_chars reports a number past either end of a double's range alike and leaves the value
    // alone. number is what it read, without a sign. Its value is 0.d1d2... times ten to the power
    // of (digits before the point, from the first significant one, or minus the zeros between the
    // point and that digit) plus the exponent: beyond the largest double when that power is
    // positive, below the smallest when it is not. (The searches take a predicate: the string
    // searches for a set of characters cost a call per character, and digits may run to megabytes.)
    bool isBeyondLargest (std::string_view number)
    {
        const auto exponentAt = firstWhere (number, [] (char c) { return c == 'e' || c == 'E'; });
        const auto mantissa = number.substr (0, exponentAt);
        const auto point = std::min (mantissa.find ('.'), mantissa.size());
        const auto first = firstWhere (mantissa, [] (char c) { return c != '0' && c != '.'; });

        if (first == mantissa.size())
            return false;

        const auto magnitude = first < point ? (long long) (point - first) : -(long long) (first - point - 1);

        if (exponentAt == number.size())
            return magnitude > 0;

        auto exponentText = number.substr (exponentAt + 1);

        if (! exponentText.empty() && exponentText.front() == '+')
            exponentText.remove_prefix (1);

        long long exponent = 0;
        const auto result = std::from_chars (exponentText.data(), exponentText.data() + exponentText.size(), exponent);

        // An exponent beyond a long long outweighs any number of digits a text can hold.
        if (result.ec == std::errc::result_out_of_range)
            return exponentText.front() != '-';

        return exponent > -magnitude;
    }

    // Reads the number at the start of text (no sign, no white space): its value and the length
    // read, or nothing. Out of range reads as infinity or zero.
    std::optional<std::pair<double, std::size_t>> readUnsigned (std::string_view text)
    {
        double value = 0.0;
        const auto result = std::from_chars (text.data(), text.data() + text.size(), value, std::chars_format::general);
        const auto length = (std::size_t) (result.ptr - text.data());

        if (result.ec == std::errc::result_out_of_range)
            value = isBeyondLargest (text.substr (0, length)) ? std::numeric_limits<double>::infinity() : 0.0;
        else if (result.ec != std::errc())
            return {};

        return std::pair { value, length };
    }
}

std::optional<double> readNumber (const juce::String& whole)
{
    auto text = withoutSpaceAround (view (whole));
    const bool negative = takeSign (text);

    // from_chars would also read "inf" and "nan", and a second sign.
    if (text.empty() || ! (isDigit (text.front()) || text.front() == '.'))
        return {};

    const auto read = readUnsigned (text);

    if (! read.has_value() || read->second != text.size())
        return {};

    // Only a number beyond a double's range reads as infinity here: "inf" was refused above.
    const auto magnitude = std::min (read->first, std::numeric_limits<double>::max());
    return negative ? -magnitude : magnitude;
}

std::optional<double> asFloat (double number)
{
    if (! std::isfinite (number))
        return {};

    constexpr auto largest = (double) std::numeric_limits<float>::max();
    return (double) (float) std::clamp (number, -largest, largest);
}

std::optional<double> readFloatNumber (const juce::String& text)
{
    const auto number = readNumber (text);
    return number.has_value() ? asFloat (*number) : std::nullopt;
}

std::optional<double> readFloatNumber (const juce::var& value)
{
    if (value.isString())
        return readFloatNumber (value.toString());

    if (value.isInt() || value.isInt64() || value.isBool() || value.isDouble())
        return asFloat (value);

    return {};
}

double readLeadingNumber (const juce::String& typed)
{
    auto text = withoutLeadingSpace (view (typed));
    const bool negative = takeSign (text);

    if (text.empty() || text.front() == '-' || text.front() == '+')
        return 0.0;

    // A decimal comma: only a copy of the text is changed, and only then.
    std::string withPoint;
    const auto digits = firstWhere (text, [] (char c) { return ! isDigit (c); });

    if (digits > 0 && digits + 1 < text.size() && text[digits] == ',' && isDigit (text[digits + 1]))
    {
        const auto fraction = text.substr (digits + 1);
        const auto fractionEnd = firstWhere (fraction, [] (char c) { return ! isDigit (c); });

        // "1,500.25" is a thousands comma.
        if (fractionEnd == fraction.size() || fraction[fractionEnd] != '.')
        {
            withPoint.assign (text);
            withPoint[digits] = '.';
            text = withPoint;
        }
    }

    const auto read = readUnsigned (text);

    if (! read.has_value())
        return 0.0;

    return negative ? -read->first : read->first;
}

int readLeadingInteger (const juce::String& typed)
{
    const auto text = withoutLeadingSpace (view (typed));
    int value = 0;
    const auto result = std::from_chars (text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? value : 0;
}

juce::String writeNumber (float value)
{
    char text[32];
    const auto result = std::to_chars (text, text + sizeof (text), value);
    return juce::String (text, (size_t) (result.ptr - text));
}

juce::String writeFixed (double value, int decimals)
{
    // A double's largest fixed text has 309 digits before the point.
    char text[340];
    const auto result = std::to_chars (text, text + sizeof (text), value, std::chars_format::fixed, std::clamp (decimals, 0, 20));
    return result.ec == std::errc() ? juce::String (text, (size_t) (result.ptr - text)) : juce::String();
}

} // namespace qvl
