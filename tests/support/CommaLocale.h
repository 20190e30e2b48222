#pragma once

#include <clocale>
#include <string>

namespace qvl::test
{
    // A locale that writes one half as "0,5", as a host may set for a musician in Germany or
    // France; empty when this machine has none (scripts/setup.sh makes one).
    inline std::string commaDecimalLocale()
    {
        const std::string saved = std::setlocale (LC_ALL, nullptr);
        std::string found;

        for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8" })
        {
            if (std::setlocale (LC_ALL, name) != nullptr && std::localeconv()->decimal_point == std::string (","))
            {
                found = name;
                break;
            }
        }

        std::setlocale (LC_ALL, saved.c_str());
        return found;
    }

    // Puts the C library's locale back at the end of a scope.
    struct ScopedLocale
    {
        ~ScopedLocale() { std::setlocale (LC_ALL, saved.c_str()); }
        const std::string saved = std::setlocale (LC_ALL, nullptr);
    };
}
