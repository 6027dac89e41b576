// Listing the sample files of a folder.
#pragma once

#include <string>
#include <vector>

// Appends the names of the entries of File_Dir ("." when empty) whose extension (text after the
// last ".") equals the filter's byte for byte, or every entry ("." and ".." included) when the
// filter is "*.*"; then sorts the whole vector by bytes. Returns the vector's size; a folder that
// cannot be opened adds nothing.
int load_filename_from_filedir(std::string File_Dir, std::string File_Extension_Filter,
                               std::vector<std::string>& FileName_Vec);
