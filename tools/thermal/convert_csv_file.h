#pragma once
// A CSV file that `thermal convert` writes a frame at a time: a buffered stream on a temporary
// file that takes the final name only when finished (CConvertOutputFile), and the way a source
// name is written into its '#' comment lines. The tool's main thread only.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "convert_output_file.h"

class CConvertCsvFile {
  public:
    // `path` as ResolveOutputPath returned it. Nothing is created until Open.
    CConvertCsvFile(const std::string& path, const struct stat& input);
    ~CConvertCsvFile();
    CConvertCsvFile(const CConvertCsvFile&) = delete;
    CConvertCsvFile& operator=(const CConvertCsvFile&) = delete;

    // Creates the temporary file. False with `error` set.
    bool Open(std::string& error);
    // Appends `bytes`; a full disk may only show in Finish, when the buffer is written out.
    // False with `error` set.
    bool Append(std::string_view bytes, std::string& error);
    // Writes out the rest and gives the file its final name. False with `error` set.
    bool Finish(std::string& error);

  private:
    std::string WriteError() const;

    CConvertOutputFile m_file;
    std::FILE* m_stream = nullptr;  // closed before m_file removes an unfinished temporary
};

// The name as it can stand in a comment line: control characters (a line feed in a file name
// would end the comment) and bytes that are not UTF-8 become '?'.
std::string CommentSafe(const std::string& name);
