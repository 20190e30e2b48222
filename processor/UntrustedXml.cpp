#include "processor/UntrustedXml.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
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

    // Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF) and no control
    // characters but tab and line ends: the framework's writer escapes all others.
    bool isCleanText (const unsigned char* p, const unsigned char* end)
    {
        while (p < end)
        {
            const auto lead = *p;

            if (lead < 0x80)
            {
                if (lead < 0x20 && ! isSpace ((char) lead))
                    return false;

                ++p;
                continue;
            }

            int extra;
            std::uint32_t value, smallest;

            if ((lead & 0xe0) == 0xc0)      { extra = 1; value = lead & 0x1fu; smallest = 0x80; }
            else if ((lead & 0xf0) == 0xe0) { extra = 2; value = lead & 0x0fu; smallest = 0x800; }
            else if ((lead & 0xf8) == 0xf0) { extra = 3; value = lead & 0x07u; smallest = 0x10000; }
            else                            return false;

            if (end - p <= extra)
                return false;

            for (int i = 1; i <= extra; ++i)
            {
                if ((p[i] & 0xc0) != 0x80)
                    return false;

                value = (value << 6) | (p[i] & 0x3fu);
            }

            if (value < smallest || ! isCharacter (value))
                return false;

            p += extra + 1;
        }

        return true;
    }

    void appendUtf8 (std::string& out, std::uint32_t c)
    {
        if (c < 0x80)
        {
            out += (char) c;
        }
        else if (c < 0x800)
        {
            out += (char) (0xc0 | (c >> 6));
            out += (char) (0x80 | (c & 0x3f));
        }
        else if (c < 0x10000)
        {
            out += (char) (0xe0 | (c >> 12));
            out += (char) (0x80 | ((c >> 6) & 0x3f));
            out += (char) (0x80 | (c & 0x3f));
        }
        else
        {
            out += (char) (0xf0 | (c >> 18));
            out += (char) (0x80 | ((c >> 12) & 0x3f));
            out += (char) (0x80 | ((c >> 6) & 0x3f));
            out += (char) (0x80 | (c & 0x3f));
        }
    }

    int digitValue (char c, bool hex)
    {
        if (c >= '0' && c <= '9')
            return c - '0';

        if (hex && c >= 'a' && c <= 'f')
            return c - 'a' + 10;

        if (hex && c >= 'A' && c <= 'F')
            return c - 'A' + 10;

        return -1;
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

            // Enough digits for U+10FFFF, so the number cannot overflow.
            const int maximumDigits = hex ? 6 : 7;
            std::uint32_t value = 0;
            int digits = 0;

            for (; p < end && *p != ';'; ++p)
            {
                const int digit = digitValue (*p, hex);

                if (digit < 0 || ++digits > maximumDigits)
                    return false;

                value = value * (hex ? 16u : 10u) + (std::uint32_t) digit;
            }

            if (p == end || digits == 0 || ! isCharacter (value))
                return false;

            ++p;

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
    const auto* end = start + text.getNumBytesAsUTF8();

    if (start == end || ! isCleanText ((const unsigned char*) start, (const unsigned char*) end))
        return {};

    return Reader (start, end, bounds).read();
}

} // namespace qvl
