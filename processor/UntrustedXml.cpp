#include "processor/UntrustedXml.h"

#include "processor/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace qvl
{

namespace
{
    constexpr std::size_t maximumNameBytes = 256;

    bool isSpace (char c)     { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    bool isNameStart (char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
    bool isNameChar (char c)  { return isNameStart (c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

    bool isCharacter (std::uint32_t c)
    {
        return c != 0 && c <= 0x10ffff && (c < 0xd800 || c > 0xdfff);
    }

    // Strict UTF-8 and no control characters but tab and line ends: the framework's writer escapes
    // all others.
    bool isCleanText (const unsigned char* p, const unsigned char* end)
    {
        while (p < end)
        {
            std::uint32_t c;
            const int length = decodeUtf8 (p, end, c);

            if (length == 0 || (c < 0x20 && ! isSpace ((char) c)))
                return false;

            p += length;
        }

        return true;
    }

    juce::String toString (std::string_view text)
    {
        return juce::String::fromUTF8 (text.data(), (int) text.size());
    }

    // Reads in two passes. The first checks the whole document and the bounds and notes where
    // elements and attributes are, building nothing of the framework's; the second builds the
    // tree from those notes, so a refused document never reaches the string pool.
    class Reader
    {
    public:
        Reader (const char* start, const char* finish, const XmlBounds& limits)
            : p (start), end (finish), bounds (limits) {}

        std::unique_ptr<juce::XmlElement> read()
        {
            if (! scan())
                return {};

            return build();
        }

    private:
        struct Element
        {
            std::string_view name;
            int parent;
            std::size_t firstAttribute;
            int numAttributes;
        };

        struct Attribute
        {
            std::string_view name;
            std::string value;      // entities replaced
        };

        bool startsWith (std::string_view prefix) const
        {
            return (std::size_t) (end - p) >= prefix.size() && std::memcmp (p, prefix.data(), prefix.size()) == 0;
        }

        bool skipPast (std::string_view terminator)
        {
            const auto at = std::string_view (p, (std::size_t) (end - p)).find (terminator);

            if (at == std::string_view::npos)
                return false;

            p += at + terminator.size();
            return true;
        }

        bool skipSpace()
        {
            const auto* start = p;

            while (p < end && isSpace (*p))
                ++p;

            return p != start;
        }

        // White space, comments and processing instructions: what may stand before and after
        // the root. False when one never ends.
        bool skipProlog()
        {
            for (;;)
            {
                skipSpace();
                const bool comment = startsWith ("<!--");

                if (! comment && ! startsWith ("<?"))
                    return true;

                p += comment ? 4 : 2;

                if (! skipPast (comment ? "-->" : "?>"))
                    return false;
            }
        }

        std::string_view readName()
        {
            const auto* start = p;

            if (p < end && isNameStart (*p))
                while (++p < end && isNameChar (*p) && (std::size_t) (p - start) <= maximumNameBytes) {}

            const std::string_view name (start, (std::size_t) (p - start));
            return name.size() <= maximumNameBytes ? name : std::string_view();
        }

        // At the '&'. Appends the character to out, when given.
        bool readEntity (std::string* out)
        {
            ++p;

            static constexpr std::pair<std::string_view, char> named[] = {
                { "amp;", '&' }, { "lt;", '<' }, { "gt;", '>' }, { "quot;", '"' }, { "apos;", '\'' }
            };

            for (const auto& [name, character] : named)
            {
                if (startsWith (name))
                {
                    p += name.size();

                    if (out != nullptr)
                        *out += character;

                    return true;
                }
            }

            if (! startsWith ("#"))
                return false;

            ++p;
            const bool hex = p < end && *p == 'x';
            p += hex ? 1 : 0;

            // Any number of leading zeros; a value too large for the type is refused with the
            // others past U+10FFFF. from_chars takes no sign for an unsigned type.
            std::uint32_t value = 0;
            const auto [last, error] = std::from_chars (p, end, value, hex ? 16 : 10);

            if (error != std::errc() || last == end || *last != ';' || ! isCharacter (value))
                return false;

            p = last + 1;

            if (out != nullptr)
                appendUtf8 (*out, value);

            return true;
        }

        bool skipText()
        {
            while (p < end && *p != '<')
            {
                if (*p != '&')
                    ++p;
                else if (! readEntity (nullptr))
                    return false;
            }

            return true;
        }

        bool readAttribute()
        {
            const auto name = readName();

            if (name.empty())
                return false;

            skipSpace();

            if (p == end || *p != '=')
                return false;

            ++p;
            skipSpace();

            if (p == end || (*p != '"' && *p != '\''))
                return false;

            const char quote = *p++;
            std::string value;

            for (;;)
            {
                const auto* run = p;

                while (p < end && *p != quote && *p != '&' && *p != '<')
                    ++p;

                value.append (run, (std::size_t) (p - run));

                if (p == end || *p == '<')
                    return false;

                if (*p == quote)
                    break;

                if (! readEntity (&value))
                    return false;
            }

            ++p;
            attributes.push_back ({ name, std::move (value) });
            return true;
        }

        bool hasUniqueAttributeNames (const Element& element) const
        {
            std::vector<std::string_view> names;

            for (int i = 0; i < element.numAttributes; ++i)
                names.push_back (attributes[element.firstAttribute + (std::size_t) i].name);

            std::sort (names.begin(), names.end());
            return std::adjacent_find (names.begin(), names.end()) == names.end();
        }

        // At the '<'.
        bool readStartTag()
        {
            ++p;
            const auto name = readName();

            if (name.empty() || (int) open.size() >= bounds.maximumDepth || (int) elements.size() >= bounds.maximumElements)
                return false;

            const int index = (int) elements.size();
            elements.push_back ({ name, open.empty() ? -1 : open.back(), attributes.size(), 0 });

            for (;;)
            {
                const bool spaced = skipSpace();

                if (p == end)
                    return false;

                if (*p == '>')
                {
                    ++p;
                    open.push_back (index);
                    break;
                }

                if (*p == '/')
                {
                    if (! startsWith ("/>"))
                        return false;

                    p += 2;
                    break;
                }

                auto& element = elements[(std::size_t) index];

                if (! spaced
                    || element.numAttributes >= bounds.maximumAttributesPerElement
                    || (int) attributes.size() >= bounds.maximumAttributes
                    || ! readAttribute())
                    return false;

                ++element.numAttributes;
            }

            return hasUniqueAttributeNames (elements[(std::size_t) index]);
        }

        // At the "</".
        bool readEndTag()
        {
            p += 2;
            const auto name = readName();

            if (name.empty() || name != elements[(std::size_t) open.back()].name)
                return false;

            skipSpace();

            if (p == end || *p != '>')
                return false;

            ++p;
            open.pop_back();
            return true;
        }

        bool scan()
        {
            if (! skipProlog() || p == end || *p != '<' || ! readStartTag())
                return false;

            while (! open.empty())
            {
                if (p == end)
                    return false;

                if (*p != '<')
                {
                    if (! skipText())
                        return false;

                    continue;
                }

                if (startsWith ("<!--"))
                {
                    p += 4;

                    if (! skipPast ("-->"))
                        return false;

                    continue;
                }

                // Anything else after a '<' ("<!DOCTYPE", "<![CDATA[", "<?", "< a") has no name
                // here. The framework's parser never finishes an instruction followed by text.
                if (! (startsWith ("</") ? readEndTag() : readStartTag()))
                    return false;
            }

            return skipProlog() && p == end;
        }

        std::unique_ptr<juce::XmlElement> build() const
        {
            std::vector<std::unique_ptr<juce::XmlElement>> built;
            built.reserve (elements.size());

            for (const auto& element : elements)
            {
                auto xml = std::make_unique<juce::XmlElement> (toString (element.name));

                for (int i = 0; i < element.numAttributes; ++i)
                {
                    const auto& attribute = attributes[element.firstAttribute + (std::size_t) i];
                    xml->setAttribute (juce::Identifier (toString (attribute.name)), toString (attribute.value));
                }

                built.push_back (std::move (xml));
            }

            // Prepending from the last child keeps each parent's order without walking its list.
            for (auto i = built.size(); --i > 0;)
                built[(std::size_t) elements[i].parent]->prependChildElement (built[i].release());

            return std::move (built.front());
        }

        const char* p;
        const char* const end;
        const XmlBounds bounds;

        std::vector<Element> elements;      // in document order
        std::vector<Attribute> attributes;  // in document order
        std::vector<int> open;              // elements not yet closed, innermost last
    };
}

std::unique_ptr<juce::XmlElement> parseUntrustedXml (const juce::String& text, const XmlBounds& bounds)
{
    const auto* start = text.toRawUTF8();
    const auto* end = start + std::strlen (start);   // as stored, not as the framework measures

    if (start == end || ! isCleanText ((const unsigned char*) start, (const unsigned char*) end))
        return {};

    return Reader (start, end, bounds).read();
}

} // namespace qvl
