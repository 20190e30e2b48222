#pragma once

#include <juce_core/juce_core.h>

#include <set>
#include <utility>

// Reading files that anyone could have put in place: preset folders are shared and settings
// files are edited by hand. Nothing here blocks on a device or a FIFO, reads without bound or
// lets a crafted document recurse or expand without limit.
namespace qvl
{
    // A regular file, after following links.
    bool isRegularFile (const juce::File&);

    // The text of a regular file of at most maximumBytes, opened without blocking; empty for
    // anything else (missing, a device, a FIFO, a folder, too long, unreadable).
    juce::String readBoundedText (const juce::File&, juce::int64 maximumBytes);

    // Bytes as the framework decodes a file's text: UTF-16 after its byte-order mark, UTF-8 with
    // or without one, anything else as Windows-1252.
    juce::String decodeText (const void* data, size_t size);

    // Bytes of the text as UTF-8, the measure file names are limited by.
    inline int utf8Bytes (const juce::String& text) { return (int) text.getNumBytesAsUTF8(); }

    // Walking folders that anyone could have filled or linked: the real folders one walk has
    // entered, known by what they are on disk rather than by the path that led there. A folder
    // reached again through a link, or a loop, is entered once.
    class VisitedFolders
    {
    public:
        // True the first time a folder is met; false when it was met before or is no folder.
        bool firstVisit (const juce::File& folder);

    private:
       #if JUCE_WINDOWS
        std::set<juce::String> seen;                            // the path with links resolved
       #else
        std::set<std::pair<juce::uint64, juce::uint64>> seen;   // device, inode
       #endif
    };

    // A file as it stands on disk: its size and the times of its last change of content and, where
    // the platform keeps one, of status (permissions, links), as finely as they are kept. Writing,
    // replacing or making a file readable gives it another stamp.
    struct FileStamp
    {
        juce::int64 size = -1;          // -1: no such file
        juce::int64 modified = 0, changed = 0;

        bool operator== (const FileStamp& other) const noexcept
        {
            return size == other.size && modified == other.modified && changed == other.changed;
        }

        bool operator!= (const FileStamp& other) const noexcept { return ! operator== (other); }
    };

    // After following links; one look at the file system, the file is not opened.
    FileStamp fileStampOf (const juce::File&);

    // A plain file (not a link, not a folder) whose path, taken as written, lies below folder
    // with no ".." leading out. Where the folders on the way lead on disk does not matter.
    bool isPlainFileUnder (const juce::File& file, const juce::File& folder);
}
