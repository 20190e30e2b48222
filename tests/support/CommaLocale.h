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

    // The first of the names this machine has a locale for that passes the check; empty where it
    // has none (scripts/setup.sh makes them).
    template <typename Check>
    std::string firstLocale (std::initializer_list<const char*> names, Check check)
    {
        const ScopedLocale restore;

        for (const char* name : names)
            if (std::setlocale (LC_ALL, name) != nullptr && check())
                return name;

        return {};
    }

    // A locale that writes one half as "0,5", as a host may set one.
    inline std::string commaDecimalLocale()
    {
        return firstLocale ({ "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8" }, [] { return *std::localeconv()->decimal_point == ','; });
    }

    // A locale whose capital I is not the capital of i, as in Turkish.
    inline std::string dotlessILocale()
    {
        return firstLocale ({ "tr_TR.UTF-8", "tr_TR.utf8" }, [] { return true; });
    }

    // For a scope, a locale as a host or another plug-in in its process sets it: the C++ global
    // locale, which the framework's number texts follow, and with it the C library's, which its
    // letter case follows. Both are put back afterwards. With no name, nothing changes.
    struct ScopedHostLocale
    {
        explicit ScopedHostLocale (const std::string& name)
        {
            if (name.empty())
                return;

            try { std::locale::global (std::locale (name)); }
            catch (const std::runtime_error&) { std::setlocale (LC_ALL, name.c_str()); }
        }

        ~ScopedHostLocale() { std::locale::global (savedGlobal); }

        const ScopedLocale restoreC; // destroyed after the global locale is put back
        const std::locale savedGlobal = std::locale::global (std::locale::classic());
    };

    struct ScopedCommaLocale : ScopedHostLocale
    {
        ScopedCommaLocale() : ScopedHostLocale (commaDecimalLocale()) {}
    };
}
