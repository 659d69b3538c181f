// Output names from the common folder of the files handed to one command.
#include "output_names.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "bench_options.h"
#include "module_lookup.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

fs::path absolute_folder(const fs::path& file) {
    std::error_code error;
    const fs::path absolute = fs::absolute(file, error);
    return (error ? file : absolute).lexically_normal().parent_path();
}

fs::path common_folder(const std::vector<fs::path>& files) {
    fs::path common = absolute_folder(files.front());
    for (const fs::path& file : files) {
        const fs::path folder = absolute_folder(file);
        fs::path shared;
        auto a = common.begin();
        auto b = folder.begin();
        for (; a != common.end() && b != folder.end() && *a == *b; ++a, ++b) shared /= *a;
        common = shared;
    }
    return common;
}

}  // namespace

void require_plain_name(const std::string& name, const char* what) {
    const bool plain = !name.empty() && name.size() <= 200 && name.front() != '.' &&
                       std::all_of(name.begin(), name.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '+';
                       });
    if (!plain)
        throw UsageError("'" + name + "' cannot be " + what + " (letters, digits, '-', '_', '.' or '+', not first '.', at most 200)");
}

void require_plain_path(const std::string& name, const char* what) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find('/', start);
        require_plain_name(name.substr(start, end == std::string::npos ? std::string::npos : end - start), what);
        if (end == std::string::npos) return;
        start = end + 1;
    }
}

std::vector<std::string> output_names(const std::vector<fs::path>& files) {
    std::vector<std::string> names;
    if (files.empty()) return names;
    const fs::path common = common_folder(files);
    std::map<std::string, fs::path> taken;
    for (const fs::path& file : files) {
        const fs::path folder = absolute_folder(file);
        const std::string name = (folder.lexically_relative(common) / file.stem()).lexically_normal().generic_string();
        require_plain_path(name, "a scenario or trace name");
        const auto [place, fresh] = taken.emplace(name, file);
        if (!fresh)
            throw UsageError(display_path(file) + ": named twice (also as " + display_path(place->second) +
                             "); each file runs once");
        names.push_back(name);
    }
    return names;
}

}  // namespace kestrel::bench
