#pragma once
// Where snapshots and workbooks go: the program directory when files can be created there, else
// a fallback directory of the user's (the pictures folder), created if needed. A program
// installed system-wide cannot write beside itself, and a snapshot that goes nowhere is lost.
// Plain C++, no Qt; any thread (it touches the file system: not for a time-critical thread).
#include <string>

// True if a file can be created in dir right now. The check creates and removes a probe file,
// so it answers for read-only mounts, access lists and the superuser alike, where the mode bits
// alone would not.
bool IsWritableDirectory(const std::string& dir);

struct ExportDirectory {
    std::string path;   // ends in '/'; empty when error is set
    std::string error;  // one line naming the directory that could not be used
};

// programDir when it is writable, else fallbackDir, created with its parents if missing.
// An empty fallbackDir (no home directory known) cannot be used.
ExportDirectory ChooseExportDirectory(const std::string& programDir,
                                      const std::string& fallbackDir);
