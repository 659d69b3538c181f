// Finding a module file by the name a scenario or a panel gives it: NAME plus an
// extension, in any letter case (the panel module ships as KESTREL.GAU), in one folder,
// and the first check of any file a user names. The host, the bench and the live panel
// all look files up here.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel {

// No module of that name: what() names the folder, the file wanted and the modules that
// are there, e.g. "dist: no module KESTREL_TIMR.gau (it has KESTREL.GAU, KESTREL_TIMER.gau)".
class ModuleNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file of module NAME in a folder, or an empty path when there is none. Throws
// ModuleNotFound when the folder cannot be read.
std::filesystem::path find_module_file(const std::filesystem::path& directory, const std::string& name,
                                       const std::string& extension);

// Names compared as the simulator compares module, gauge, key, section and window names:
// in any letter case.
bool same_name(const std::string& a, const std::string& b);

// The file names in a folder that end in the extension (any case), sorted.
std::vector<std::string> module_files_in(const std::filesystem::path& directory, const std::string& extension);

// The file of module NAME, or ModuleNotFound listing the modules the folder has.
std::filesystem::path require_module_file(const std::filesystem::path& directory, const std::string& name,
                                          const std::string& extension);

// "" when the path names a file that can be opened; else "FILE: cannot read: reason". A
// directory is accepted only where `directory_allowed`. Every file a user hands the
// tools is checked so before a parser sees it.
std::string read_problem(const std::filesystem::path& path, bool directory_allowed);

// A path as the user wrote it, with forward slashes on every platform: for messages and
// for the module file a trace names.
std::string display_path(const std::filesystem::path& path);

}  // namespace kestrel
