#pragma once

#include <cstdint>
#include <string>

namespace qvl
{
    // One character of strict UTF-8 at p, before end: no overlong forms, surrogates or values past
    // U+10FFFF. Returns its length in bytes and sets character; 0 when p holds no such character.
    inline int decodeUtf8 (const unsigned char* p, const unsigned char* end, std::uint32_t& character)
    {
        const auto lead = *p;

        if (lead < 0x80)
        {
            character = lead;
            return 1;
        }

        int extra;
        std::uint32_t smallest;

        if ((lead & 0xe0) == 0xc0)      { extra = 1; character = lead & 0x1fu; smallest = 0x80; }
        else if ((lead & 0xf0) == 0xe0) { extra = 2; character = lead & 0x0fu; smallest = 0x800; }
        else if ((lead & 0xf8) == 0xf0) { extra = 3; character = lead & 0x07u; smallest = 0x10000; }
        else                            return 0;

        if (end - p <= extra)
            return 0;

        for (int i = 1; i <= extra; ++i)
        {
            if ((p[i] & 0xc0) != 0x80)
                return 0;

            character = (character << 6) | (p[i] & 0x3fu);
        }

        if (character < smallest || character > 0x10ffff || (character >= 0xd800 && character <= 0xdfff))
            return 0;

        return extra + 1;
    }

    inline void appendUtf8 (std::string& out, std::uint32_t c)
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
}
