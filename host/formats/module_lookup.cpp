// Module lookup by name, case-insensitively, with the list of modules present when the
// one asked for is not there.
#include "module_lookup.h"

#include <algorithm>
#include <cctype>
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
