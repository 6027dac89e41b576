#include "engine/io/sample_listing.h"

#include <dirent.h>

#include <algorithm>

namespace {

// The text after the last "."; the whole text when there is none.
std::string after_last_dot(const std::string& text) {
    const std::size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(dot + 1);
}

}  // namespace

int load_filename_from_filedir(std::string File_Dir, std::string File_Extension_Filter,
                               std::vector<std::string>& FileName_Vec) {
    DIR* dir = opendir(File_Dir.empty() ? "." : File_Dir.c_str());
    if (!dir) return static_cast<int>(FileName_Vec.size());
    const bool every_entry = File_Extension_Filter == "*.*";
    const std::string wanted = after_last_dot(File_Extension_Filter);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (every_entry || after_last_dot(name) == wanted) FileName_Vec.push_back(name);
    }
    closedir(dir);
    // std::string compares through char_traits<char>, which orders bytes as unsigned.
    std::sort(FileName_Vec.begin(), FileName_Vec.end());
    return static_cast<int>(FileName_Vec.size());
}
