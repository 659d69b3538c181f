// Module lookup by name, case-insensitively, with the list of modules present when the
// one asked for is not there.
#include "module_lookup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ends_message(const fs::path& directory, const std::error_code& error) {
    return display_path(directory) + ": cannot read the module folder (" + error.message() + ")";
}

}  // namespace

std::string display_path(const fs::path& path) { return path.generic_string(); }

bool same_name(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

std::string read_problem(const fs::path& path, bool directory_allowed) {
    const std::string cannot = display_path(path) + ": cannot read: ";
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) return cannot + (error ? error.message() : std::strerror(ENOENT));
    if (fs::is_directory(status)) return directory_allowed ? "" : cannot + std::strerror(EISDIR);
    if (!fs::is_regular_file(status)) return cannot + "not a regular file";
    std::ifstream probe(path);
    if (!probe) return cannot + std::strerror(errno);
    return "";
}

fs::path find_module_file(const fs::path& directory, const std::string& name, const std::string& extension) {
    const std::string wanted = lower(name + extension);
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error) throw ModuleNotFound(ends_message(directory, error));
    for (const fs::directory_entry& entry : entries)
        if (lower(entry.path().filename().string()) == wanted) return entry.path();
    return {};
}

std::vector<std::string> module_files_in(const fs::path& directory, const std::string& extension) {
    std::vector<std::string> names;
    const std::string wanted = lower(extension);
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error) throw ModuleNotFound(ends_message(directory, error));
    for (const fs::directory_entry& entry : entries) {
        const std::string file = entry.path().filename().string();
        if (file.size() > wanted.size() && lower(file.substr(file.size() - wanted.size())) == wanted) names.push_back(file);
    }
    std::sort(names.begin(), names.end());
    return names;
}

fs::path require_module_file(const fs::path& directory, const std::string& name, const std::string& extension) {
    fs::path found = find_module_file(directory, name, extension);
    if (!found.empty()) return found;
    const std::vector<std::string> present = module_files_in(directory, extension);
    std::string list;
    for (const std::string& file : present) list += (list.empty() ? "" : ", ") + file;
    throw ModuleNotFound(display_path(directory) + ": no module " + name + extension +
                         (present.empty() ? " (the folder has no " + extension + " files)" : " (it has " + list + ")"));
}

}  // namespace kestrel
