// Loading a gauge module the way the simulator does: by path, through the platform's
// library loader, then finding and reading the two records it exports, Linkage and ImportTable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "linkage.h"

namespace kestrel {

// Every fault the host finds in a module or in its own input: one line, naming the file
// or the record at fault.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Linkage as the module declares it: the fixed words, then the gauge table inline up to
// its NULL entry, however many gauges come before it.
using LinkageHead = LinkageRecord<0>;
inline constexpr std::size_t linkage_table_offset = offsetof(LinkageHead, gauge_table);

// A loaded module: owns the library handle; unloading runs module_deinit first if
// module_init was run. Move-only.
class LoadedModule {
public:
    // Loads the module at path. Throws HostError naming the file when it is missing, is
    // not a 32-bit module of this platform, fails to load, or lacks Linkage or ImportTable,
    // or when its gauge table has no NULL entry within a sane bound.
    static LoadedModule open(const std::filesystem::path& path);

    LoadedModule(LoadedModule&& other) noexcept;
    LoadedModule& operator=(LoadedModule&& other) noexcept;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule();

    const std::filesystem::path& path() const { return path_; }
    // The file name alone, as error messages and reports show it.
    std::string file_name() const { return path_.filename().string(); }

    const LinkageHead& linkage() const { return *linkage_; }
    uint32_t module_id() const { return linkage_->module_id; }
    uint32_t module_version() const { return linkage_->module_version; }

    // gauge_table as read up to its NULL entry, in order.
    const std::vector<GaugeHeader*>& gauges() const { return gauges_; }
    std::vector<std::string> gauge_names() const;
    // The gauge with this gauge_name; throws HostError listing the names the module has.
    GaugeHeader& gauge(std::string_view name) const;

    ImportTableRecord& import_table() const { return *import_table_; }

    // The memory the module was loaded into, from its first to past its last byte: every
    // record the host follows must lie inside it.
    const unsigned char* image_begin() const { return image_begin_; }
    const unsigned char* image_end() const { return image_end_; }

    // Runs module_init once (PanelHost::attach calls it after writing the service table).
    void run_module_init();
    bool module_init_run() const { return init_run_; }

private:
    LoadedModule() = default;
    void unload() noexcept;

    std::filesystem::path path_;
    void* handle_ = nullptr;
    const LinkageHead* linkage_ = nullptr;
    ImportTableRecord* import_table_ = nullptr;
    std::vector<GaugeHeader*> gauges_;
    const unsigned char* image_begin_ = nullptr;
    const unsigned char* image_end_ = nullptr;
    bool init_run_ = false;
};

// gauge_name of a header as a string, "(no name)" for NULL.
std::string gauge_name_of(const GaugeHeader& header);

}  // namespace kestrel
