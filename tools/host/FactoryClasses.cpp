#include "FactoryClasses.h"
#include "HostOptions.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <string>

using namespace Steinberg;

namespace
{
    using GetFactoryProc = IPluginFactory* (PLUGIN_API*)();
    using ModuleEntryProc = bool (*) (void*);
    using ModuleExitProc = bool (*)();

    std::string text (const char* chars, std::size_t capacity)
    {
        std::size_t length = 0;
        while (length < capacity && chars[length] != 0)
            ++length;
        return std::string (chars, length);
    }

    // On this platform a TUID holds its four 32-bit words big-endian.
    std::uint32_t word (const TUID cid, int index)
    {
        std::uint32_t result = 0;
        for (int i = 0; i < 4; ++i)
            result = (result << 8) | (std::uint8_t) cid[index * 4 + i];
        return result;
    }

    std::string wordAsText (std::uint32_t value)
    {
        std::string result;
        for (int shift = 24; shift >= 0; shift -= 8)
        {
            const auto c = (char) ((value >> shift) & 0xff);
            result += (c >= 32 && c < 127) ? c : '.';
        }
        return result;
    }

    std::string hexWord (std::uint32_t value)
    {
        char buffer[16];
        std::snprintf (buffer, sizeof (buffer), "%08X", value);
        return buffer;
    }

    void printClassId (const TUID cid, std::ostream& out)
    {
        out << "  cid: " << hexWord (word (cid, 0)) << ' ' << hexWord (word (cid, 1)) << ' '
            << hexWord (word (cid, 2)) << ' ' << hexWord (word (cid, 3)) << '\n';
        out << "  cid text: \"" << wordAsText (word (cid, 0)) << "\" \"" << wordAsText (word (cid, 1)) << "\" \""
            << wordAsText (word (cid, 2)) << "\" \"" << wordAsText (word (cid, 3)) << "\"\n";
    }
}

int printFactoryClasses (const std::string& modulePath, std::ostream& out, std::ostream& err)
{
    void* handle = dlopen (modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);

    if (handle == nullptr)
    {
        const char* reason = dlerror();
        err << "error: cannot load " << modulePath << ": " << (reason != nullptr ? reason : "unknown") << '\n';
        return ExitCode::pluginNotLoaded;
    }

    out << "module: " << modulePath << '\n';
    out << "exports:";
    for (const char* name : { "GetPluginFactory", "ModuleEntry", "ModuleExit", "InitDll", "ExitDll" })
        if (dlsym (handle, name) != nullptr)
            out << ' ' << name;
    out << '\n';

    auto getFactory = reinterpret_cast<GetFactoryProc> (dlsym (handle, "GetPluginFactory"));
    auto moduleEntry = reinterpret_cast<ModuleEntryProc> (dlsym (handle, "ModuleEntry"));
    auto moduleExit = reinterpret_cast<ModuleExitProc> (dlsym (handle, "ModuleExit"));

    if (getFactory == nullptr)
    {
        err << "error: the module exports no GetPluginFactory\n";
        return ExitCode::pluginNotLoaded;
    }

    if (moduleEntry != nullptr && ! moduleEntry (handle))
    {
        err << "error: ModuleEntry failed\n";
        return ExitCode::pluginNotLoaded;
    }

    int result = ExitCode::ok;

    if (IPluginFactory* factory = getFactory())
    {
        PFactoryInfo factoryInfo;
        if (factory->getFactoryInfo (&factoryInfo) == kResultOk)
        {
            out << "factory vendor: " << text (factoryInfo.vendor, PFactoryInfo::kNameSize) << '\n';
            out << "factory url: " << text (factoryInfo.url, PFactoryInfo::kURLSize) << '\n';
            out << "factory email: " << text (factoryInfo.email, PFactoryInfo::kEmailSize) << '\n';
            out << "factory flags: " << factoryInfo.flags << '\n';
        }

        IPluginFactory2* factory2 = nullptr;
        if (factory->queryInterface (IPluginFactory2::iid, reinterpret_cast<void**> (&factory2)) != kResultOk)
            factory2 = nullptr;

        const int32 count = factory->countClasses();
        out << "classes: " << count << '\n';

        for (int32 i = 0; i < count; ++i)
        {
            out << "class " << i << '\n';

            PClassInfo2 info2;
            PClassInfo info;

            if (factory2 != nullptr && factory2->getClassInfo2 (i, &info2) == kResultOk)
            {
                printClassId (info2.cid, out);
                out << "  category: " << text (info2.category, PClassInfo::kCategorySize) << '\n';
                out << "  name: " << text (info2.name, PClassInfo::kNameSize) << '\n';
                out << "  cardinality: " << info2.cardinality << '\n';
                out << "  subcategories: " << text (info2.subCategories, PClassInfo2::kSubCategoriesSize) << '\n';
                out << "  vendor: " << text (info2.vendor, PClassInfo2::kVendorSize) << '\n';
                out << "  version: " << text (info2.version, PClassInfo2::kVersionSize) << '\n';
                out << "  sdk version: " << text (info2.sdkVersion, PClassInfo2::kVersionSize) << '\n';
                out << "  class flags: " << info2.classFlags << '\n';
            }
            else if (factory->getClassInfo (i, &info) == kResultOk)
            {
                printClassId (info.cid, out);
                out << "  category: " << text (info.category, PClassInfo::kCategorySize) << '\n';
                out << "  name: " << text (info.name, PClassInfo::kNameSize) << '\n';
                out << "  cardinality: " << info.cardinality << '\n';
            }
            else
            {
                err << "error: the factory gave no information for class " << i << '\n';
                result = ExitCode::failed;
            }
        }

        if (factory2 != nullptr)
            factory2->release();

        factory->release();
    }
    else
    {
        err << "error: GetPluginFactory returned no factory\n";
        result = ExitCode::pluginNotLoaded;
    }

    if (moduleEntry != nullptr && moduleExit != nullptr)
        moduleExit();

    // The module stays mapped: unloading a library that ran its own threads is not worth the risk
    // in a process that ends right after this.
    return result;
}
