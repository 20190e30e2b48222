#pragma once

#include <clocale>
#include <locale>
#include <stdexcept>
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

    // For a scope, the comma locale as a host or another plug-in in its process sets it: the C++
    // global locale, which the framework's number texts follow, and with it the C library's.
    // Both are put back afterwards. Where this machine has no such locale, nothing changes.
    struct ScopedCommaLocale
    {
        ScopedCommaLocale()
        {
            if (const auto name = commaDecimalLocale(); ! name.empty())
            {
                try { std::locale::global (std::locale (name)); }
                catch (const std::runtime_error&) { std::setlocale (LC_ALL, name.c_str()); }
            }
        }

        ~ScopedCommaLocale() { std::locale::global (savedGlobal); }

        const ScopedLocale restoreC; // destroyed after the global locale is put back
        const std::locale savedGlobal = std::locale::global (std::locale::classic());
    };
}
