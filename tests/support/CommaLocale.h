#pragma once

#include <clocale>
#include <string>

namespace qvl::test
{
    // Puts the C library's locale back at the end of a scope.
    struct ScopedLocale
    {
        ~ScopedLocale() { std::setlocale (LC_ALL, saved.c_str()); }
        const std::string saved = std::setlocale (LC_ALL, nullptr);
    };

    // A locale that writes one half as "0,5", as a host may set one; empty where this machine has
    // none (scripts/setup.sh makes one).
    inline std::string commaDecimalLocale()
    {
        const ScopedLocale restore;

        for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8" })
            if (std::setlocale (LC_ALL, name) != nullptr && *std::localeconv()->decimal_point == ',')
                return name;

        return {};
    }
}
