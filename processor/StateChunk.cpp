#include "processor/StateChunk.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

namespace
{
    constexpr int maximumDepth = 32;

    // Mirrors juce::InputStream's readers: past the end, bytes read as 0.
    class Reader
    {
    public:
        Reader (const std::uint8_t* d, std::size_t n) : data (d), size (n) {}

        std::size_t remaining() const { return size - position; }

        std::uint8_t byte()
        {
            return position < size ? data[position++] : 0;
        }

        // Returns false when the text runs past the end (the framework would read a truncated text).
        bool skipString (bool& isEmpty)
        {
            const auto* start = data + position;
            const auto* end = static_cast<const std::uint8_t*> (std::memchr (start, 0, remaining()));

            if (end == nullptr)
                return false;

            isEmpty = end == start;
            position += (std::size_t) (end - start) + 1;
            return true;
        }

        bool compressedInt (std::int64_t& value)
        {
            const auto sizeByte = byte();
            const int numBytes = sizeByte & 0x7f;

            if (numBytes > 4 || (std::size_t) numBytes > remaining())
                return false;

            std::uint32_t magnitude = 0;
            for (int i = 0; i < numBytes; ++i)
                magnitude |= (std::uint32_t) byte() << (8 * i);

            // Same sign handling as the framework's (int) cast and negation.
            const auto asInt = (std::int64_t) (std::int32_t) magnitude;
            value = (sizeByte & 0x80) != 0 ? -asInt : asInt;
            return true;
        }

        bool skip (std::int64_t count)
        {
            if (count < 0 || (std::uint64_t) count > remaining())
                return false;
            position += (std::size_t) count;
            return true;
        }

    private:
        const std::uint8_t* data;
        std::size_t size;
        std::size_t position = 0;
    };

    bool checkVar (Reader& in, int depth);

    // Every element of a well-formed list takes at least one byte, so a count larger than what
    // remains can only come from damaged data.
    bool plausibleCount (const Reader& in, std::int64_t count)
    {
        return (std::uint64_t) std::max<std::int64_t> (count, 0) <= in.remaining();
    }

    bool checkVar (Reader& in, int depth)
    {
        std::int64_t numBytes = 0;
        if (! in.compressedInt (numBytes))
            return false;

        if (numBytes <= 0)
            return true;

        switch (in.byte())
        {
            case 1:  return in.skip (4);              // int
            case 2:                                   // true
            case 3:  return true;                     // false
            case 4:                                   // double
            case 6:  return in.skip (8);              // int64
            case 7:                                   // array
            {
                if (depth >= maximumDepth)
                    return false;

                std::int64_t count = 0;
                if (! in.compressedInt (count) || ! plausibleCount (in, count))
                    return false;

                for (std::int64_t i = 0; i < count; ++i)
                    if (! checkVar (in, depth + 1))
                        return false;

                return true;
            }
            default: return in.skip (numBytes - 1);   // string, binary, unknown
        }
    }

    enum class TreeCheck { damaged, invalidTree, validTree };

    TreeCheck checkTree (Reader& in, int depth)
    {
        bool emptyType = true;
        if (! in.skipString (emptyType))
            return TreeCheck::damaged;

        if (emptyType)
            return TreeCheck::invalidTree;

        if (depth >= maximumDepth)
            return TreeCheck::damaged;

        std::int64_t numProperties = 0;
        if (! in.compressedInt (numProperties) || ! plausibleCount (in, numProperties))
            return TreeCheck::damaged;

        if (numProperties < 0)
            return TreeCheck::validTree; // the reader stops at a negative count

        for (std::int64_t i = 0; i < numProperties; ++i)
        {
            bool emptyName = true;
            if (! in.skipString (emptyName))
                return TreeCheck::damaged;
            if (! emptyName && ! checkVar (in, depth + 1))
                return TreeCheck::damaged;
        }

        std::int64_t numChildren = 0;
        if (! in.compressedInt (numChildren) || ! plausibleCount (in, numChildren))
            return TreeCheck::damaged;

        for (std::int64_t i = 0; i < numChildren; ++i)
        {
            const auto child = checkTree (in, depth + 1);

            if (child == TreeCheck::damaged)
                return TreeCheck::damaged;

            if (child == TreeCheck::invalidTree)
                break; // the reader keeps the children read so far and returns
        }

        return TreeCheck::validTree;
    }
}

bool isSafeValueTreeData (const void* data, std::size_t numBytes)
{
    if (data == nullptr || numBytes == 0)
        return false;

    Reader in (static_cast<const std::uint8_t*> (data), numBytes);
    return checkTree (in, 0) == TreeCheck::validTree;
}
