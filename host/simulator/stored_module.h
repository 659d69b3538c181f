// A module's records as its file stores them, for `kestrel-host inspect`: the file's
// loadable bytes laid out at their addresses in a buffer of this process and relocated to
// it, and never executed. Every record is reached through checked bounds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "linkage.h"
#include "loader.h"
#include "panel_services.h"
#include "records.h"

namespace kestrel {

class StoredModule {
public:
    // Reads a Windows module (PE32, i386) or a 32-bit shared object. Throws HostError,
    // naming the file, for a missing or foreign file, a damaged header, section, segment
    // or relocation, a missing Linkage or ImportTable, or a gauge table without its NULL.
    static StoredModule read(const std::filesystem::path& path);
    // The same for a file's bytes already in memory; path names them in messages.
    static StoredModule from_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

    const std::filesystem::path& path() const { return path_; }
    std::string file_name() const { return path_.filename().string(); }

    const LinkageHead& linkage() const { return *linkage_; }
    const ImportTableRecord& import_table() const { return *import_table_; }
    // gauge_table up to its NULL entry; each header lies inside the image.
    const std::vector<const GaugeHeader*>& gauges() const { return gauges_; }
    const RecordBounds& bounds() const { return bounds_; }

private:
    StoredModule() = default;

    std::filesystem::path path_;
    std::vector<uint64_t> storage_;  // the image, 8-byte aligned
    RecordBounds bounds_;
    const LinkageHead* linkage_ = nullptr;
    const ImportTableRecord* import_table_ = nullptr;
    std::vector<const GaugeHeader*> gauges_;
};

}  // namespace kestrel
