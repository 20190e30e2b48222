#include "processor/StateChunk.h"

#include "processor/Utf8.h"

#include <cstdint>
#include <cstring>

namespace
{
    constexpr int maximumDepth = 32;

    // The framework's writer measures a name by decoding it as UTF-8 but copies its raw bytes, so
    // a malformed name would be saved without its terminating zero and spoil every later chunk.
    bool isWellFormedUtf8 (const std::uint8_t* text, const std::uint8_t* end)
    {
        std::uint32_t c;

        for (int length; text < end; text += length)
            if ((length = qvl::decodeUtf8 (text, end, c)) == 0)
                return false;

        return true;
    }

    // Mirrors juce::InputStream's readers: past the end, bytes read as 0. The framework's reader
    // takes those zeros as counts of 0, so a chunk cut short would still give a tree; reading past
    // the end therefore marks the data as damaged.
    class Reader
    {
    public:
        Reader (const std::uint8_t* d, std::size_t n) : data (d), size (n) {}

        std::size_t remaining() const { return size - position; }
        bool overran() const { return readPastEnd; }

        std::uint8_t byte()
        {
            if (position < size)
                return data[position++];

            readPastEnd = true;
            return 0;
        }

        // Skips a type or property name. Returns false when the text runs past the end (the
        // framework would read a truncated text) or is not well-formed UTF-8.
        bool skipString (bool& isEmpty)
        {
            const auto* start = data + position;
            const auto* end = static_cast<const std::uint8_t*> (std::memchr (start, 0, remaining()));

            if (end == nullptr || ! isWellFormedUtf8 (start, end))
                return false;

            isEmpty = end == start;
            position += (std::size_t) (end - start) + 1;
            return true;
        }

        bool compressedInt (std::int64_t& value)
        {
            const auto sizeByte = byte();
            const int numBytes = sizeByte & 0x7f;

            if (readPastEnd || numBytes > 4 || (std::size_t) numBytes > remaining())
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
        bool readPastEnd = false;
    };

    bool checkVar (Reader& in, int depth);

    // Every element of a well-formed list takes at least one byte, so a count larger than what
    // remains can only come from damaged data; the writer never writes a negative one.
    bool plausibleCount (const Reader& in, std::int64_t count)
    {
        return count >= 0 && (std::uint64_t) count <= in.remaining();
    }

    bool checkVar (Reader& in, int depth)
    {
        std::int64_t numBytes = 0;
        if (! in.compressedInt (numBytes))
            return false;

        if (numBytes < 0)
            return false;

        if (numBytes == 0)
            return true; // void

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

        for (std::int64_t i = 0; i < numProperties; ++i)
        {
            bool emptyName = true;
            if (! in.skipString (emptyName) || emptyName || ! checkVar (in, depth + 1))
                return TreeCheck::damaged;
        }

        std::int64_t numChildren = 0;
        if (! in.compressedInt (numChildren) || ! plausibleCount (in, numChildren))
            return TreeCheck::damaged;

        // An invalid child would make the reader drop the rest of its parent's children.
        for (std::int64_t i = 0; i < numChildren; ++i)
            if (checkTree (in, depth + 1) != TreeCheck::validTree)
                return TreeCheck::damaged;

        return TreeCheck::validTree;
    }
}

bool isSafeValueTreeData (const void* data, std::size_t numBytes)
{
    if (data == nullptr || numBytes == 0)
        return false;

    Reader in (static_cast<const std::uint8_t*> (data), numBytes);
    return checkTree (in, 0) == TreeCheck::validTree && ! in.overran();
}
