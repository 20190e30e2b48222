#include "processor/UntrustedFile.h"

#include <limits>

#if ! JUCE_WINDOWS
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace qvl
{

namespace
{
    juce::String decodeTerminated (juce::MemoryBlock bytes)
    {
        const auto size = bytes.getSize();

        if (size > (size_t) std::numeric_limits<int>::max())
            return {};

        // The framework's decoder reads the terminator when a byte-order mark is all there is:
        // give it one.
        bytes.append ("", 1);
        return juce::String::createStringFromData (bytes.getData(), (int) size);
    }
}

bool isRegularFile (const juce::File& file)
{
   #if JUCE_WINDOWS
    return file.existsAsFile();
   #else
    struct stat info;
    return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
   #endif
}

juce::String readBoundedText (const juce::File& file, juce::int64 maximumBytes)
{
    // Checked first so that a device or FIFO is never opened at all where that can be avoided.
    if (! isRegularFile (file))
        return {};

    juce::MemoryBlock bytes;

   #if JUCE_WINDOWS
    juce::FileInputStream stream (file);
    if (stream.failedToOpen() || stream.readIntoMemoryBlock (bytes, (juce::ssize_t) maximumBytes + 1) > (size_t) maximumBytes)
        return {};
   #else
    // Non-blocking, so a FIFO swapped in after the check cannot hang the open.
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};

    struct stat info;
    bool good = ::fstat (fd, &info) == 0 && S_ISREG (info.st_mode);
    char chunk[65536];

    while (good)
    {
        const auto n = ::read (fd, chunk, sizeof (chunk));

        if (n == 0)
            break;

        if (n < 0 || (juce::int64) bytes.getSize() + n > maximumBytes)
            good = false;
        else
            bytes.append (chunk, (size_t) n);
    }

    ::close (fd);

    if (! good)
        return {};
   #endif

    return decodeTerminated (std::move (bytes));
}

juce::String decodeText (const void* data, size_t size)
{
    return decodeTerminated (juce::MemoryBlock (data, size));
}

bool VisitedFolders::firstVisit (const juce::File& folder)
{
   #if JUCE_WINDOWS
    if (! folder.isDirectory())
        return false;

    auto real = folder;
    for (int i = 0; i < 32 && real.isSymbolicLink(); ++i)
        real = real.getLinkedTarget();

    return seen.insert (real.getFullPathName().toLowerCase()).second;
   #else
    struct stat info;

    if (::stat (folder.getFullPathName().toRawUTF8(), &info) != 0 || ! S_ISDIR (info.st_mode))
        return false;

    return seen.insert ({ (juce::uint64) info.st_dev, (juce::uint64) info.st_ino }).second;
   #endif
}

FileStamp fileStampOf (const juce::File& file)
{
    FileStamp stamp;

   #if JUCE_WINDOWS
    if (file.exists())
    {
        stamp.size = file.getSize();
        stamp.modified = file.getLastModificationTime().toMilliseconds();
    }
   #else
    struct stat info;

    if (::stat (file.getFullPathName().toRawUTF8(), &info) == 0)
    {
        const auto nanoseconds = [] (const timespec& t) { return (juce::int64) t.tv_sec * 1000000000 + t.tv_nsec; };

        stamp.size = (juce::int64) info.st_size;
       #if JUCE_MAC
        stamp.modified = nanoseconds (info.st_mtimespec);
        stamp.changed = nanoseconds (info.st_ctimespec);
       #else
        stamp.modified = nanoseconds (info.st_mtim);
        stamp.changed = nanoseconds (info.st_ctim);
       #endif
    }
   #endif

    return stamp;
}

bool isPlainFileUnder (const juce::File& file, const juce::File& folder)
{
    if (file.getFullPathName().isEmpty() || folder.getFullPathName().isEmpty() || ! file.isAChildOf (folder))
        return false;

    const auto relative = file.getFullPathName().substring (folder.getFullPathName().length());

    if (juce::StringArray::fromTokens (relative, "/\\", {}).contains (".."))
        return false;

   #if JUCE_WINDOWS
    return file.existsAsFile() && ! file.isSymbolicLink();
   #else
    struct stat info;
    return ::lstat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
   #endif
}

} // namespace qvl
