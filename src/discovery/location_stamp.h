// Folders of files a plugin reads at run time (presets), walked with bounds,
// and a stamp of each: a later run compares stamps and reads a folder's
// files again only when its stamp changed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// How far a walk goes: files up to this many folder levels below the
// folder walked, and at most this many files in all. Linked folders and
// files (reparse points) are never followed.
constexpr int LocationDepthLimit = 8;
constexpr size_t LocationFileLimit = 20000;

// One file a walk saw.
struct LocationFile
{
    std::wstring path;
    uint64_t created = 0, written = 0; // file times: 100 ns units since 1601, UTC
};

// What a walk saw under one folder.
struct LocationWalk
{
    bool exists = false;            // the folder is there (and is a folder)
    std::vector<LocationFile> files; // in walk order, at most the limit given
    // The newest last write of the folder itself and of every file and
    // folder below it that the walk saw (a file renamed or deleted changes
    // the time of its folder).
    uint64_t newest = 0;
    bool tooDeep = false;  // a folder below the depth limit was passed over
    bool tooMany = false;  // the walk stopped at its file limit
    // Folders below that could not be listed: "cannot list the folder X (error N)".
    std::vector<std::string> errors;
};

// Walks folder with the depth limit and at most fileLimit files.
LocationWalk WalkLocation(const std::wstring& folder, size_t fileLimit = LocationFileLimit);

// A folder's stamp: "N files, newest 2026-12-08T13:41:15.250Z" from a walk
// with the usual bounds; "" for a folder that is not there. A file added,
// removed, renamed or written changes it.
std::string LocationStamp(const std::wstring& folder);
// The stamp of a walk already made (the same text when it had the usual
// bounds).
std::string LocationStamp(const LocationWalk& walk);
// A file's or a folder's: a folder's LocationStamp, a file's "1 file of N
// bytes, newest ..."; "" for neither.
std::string PathStamp(const std::wstring& path);

// A folder looked at, with its stamp when it was looked at.
struct StampedLocation
{
    std::wstring folder;
    std::string stamp;
};

} // namespace orvanta
