// Damaged copies of the modules against the record listing and the mapper. A reproducible
// generator (fixed seeds) truncates copies and overwrites bytes and words in the headers,
// directories and records of each twin and each real .gau; every copy must list normally
// or be refused with one line naming the file, never crash (this program runs sanitized).
// Targeted copies cover each fault seen before: a load entry or TLS callback that would
// run, names and lists pointing outside the image or misaligned, damaged directories.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "loader.h"
#include "module_listing.h"
#include "pe_image.h"
#include "records.h"
#include "stored_module.h"
#include "temporary_directory.h"

#if defined(__SANITIZE_ADDRESS__)
// Hundreds of copies come and go; a small quarantine keeps the 32-bit address space (under
// a user-mode emulator, smaller still) from filling with freed images.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:detect_leaks=0"; }
#endif

namespace {

namespace fs = std::filesystem;
using kestrel::HostError;
using kestrel::StoredModule;
using Bytes = std::vector<uint8_t>;

const fs::path twin_modules = KESTREL_TWIN_MODULE_DIR;
const fs::path windows_modules = KESTREL_WINDOWS_MODULE_DIR;
constexpr int copies_per_module = 300;

Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t word_at(const Bytes& bytes, std::size_t at) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + at, 4);
    return word;
}
void put_word(Bytes& bytes, std::size_t at, uint32_t word) { std::memcpy(bytes.data() + at, &word, 4); }

// File ranges worth damaging: the headers and the sections that hold directories, symbols,
// relocations and records (not the code, which only matters when a module runs).
struct Range {
    std::size_t begin, end;
};

std::vector<Range> windows_targets(const fs::path& path) {
    const auto image = kestrel::pe::PeImage::read(path);
    std::vector<Range> ranges{{0, std::min<std::size_t>(image.size_of_headers(), 1024)}};
    for (const auto& s : image.sections())
        if (s.name != ".text" && s.raw_size != 0) ranges.push_back({s.raw_offset, s.raw_offset + s.raw_size});
    return ranges;
}

std::vector<Range> shared_object_targets(const Bytes& f) {
    std::vector<Range> ranges{{0, 52}};
    const uint32_t phoff = word_at(f, 28), shoff = word_at(f, 32);
    const uint16_t phnum = static_cast<uint16_t>(f[44] | f[45] << 8), shnum = static_cast<uint16_t>(f[48] | f[49] << 8);
    const uint16_t shstrndx = static_cast<uint16_t>(f[50] | f[51] << 8);
    ranges.push_back({phoff, phoff + 32u * phnum});
    ranges.push_back({shoff, shoff + 40u * shnum});
    const uint32_t names = word_at(f, shoff + 40u * shstrndx + 16);
    for (uint16_t i = 0; i < shnum; ++i) {
        const std::size_t h = shoff + 40u * i;
        const std::string name = reinterpret_cast<const char*>(&f[names + word_at(f, h)]);
        if (name == ".dynsym" || name == ".dynstr" || name == ".rel.dyn" || name == ".data.rel.ro" || name == ".data" ||
            name == ".rodata")
            ranges.push_back({word_at(f, h + 16), word_at(f, h + 16) + word_at(f, h + 20)});
    }
    return ranges;
}

// The copy numbered `seed`: truncated, or a few bytes or one word overwritten in one range.
Bytes damaged_copy(const Bytes& original, const std::vector<Range>& targets, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes copy = original;
    auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random); };
    const Range range = targets[pick(static_cast<uint32_t>(targets.size()))];
    auto offset_in = [&](std::size_t width) { return range.begin + pick(static_cast<uint32_t>(range.end - range.begin - width + 1)); };
    switch (pick(4)) {
        case 0:  // cut short, mostly inside a range that matters
            copy.resize(pick(2) ? offset_in(1) : pick(static_cast<uint32_t>(copy.size())));
            break;
        case 1:  // a few bytes flipped
            for (uint32_t n = 1 + pick(8); n > 0; --n) copy[offset_in(1)] ^= static_cast<uint8_t>(1 + pick(255));
            break;
        default: {  // one aligned word made hostile
            const std::size_t at = offset_in(4) & ~std::size_t{3};
            const uint32_t old = word_at(copy, at);
            const std::array<uint32_t, 9> hostile = {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, old + 1, old - 4,
                                                     old ^ 0x80000000u, old + 0x100000u, static_cast<uint32_t>(random())};
            put_word(copy, at, hostile[pick(hostile.size())]);
            break;
        }
    }
    return copy;
}

struct Outcome {
    int listed = 0;
    int refused = 0;
    std::vector<std::pair<uint32_t, std::string>> refusals;  // seed, message
};

// Lists a copy in this process: a listing, or a HostError of one line naming the file.
void list_copy(const fs::path& name, const Bytes& bytes, uint32_t seed, Outcome& outcome) {
    try {
        std::ostringstream listing;
        kestrel::inspect(StoredModule::from_bytes(name, bytes), listing);
        EXPECT_NE(listing.str().find("Linkage\n"), std::string::npos) << "copy " << seed;
        ++outcome.listed;
    } catch (const HostError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.find('\n'), std::string::npos) << "copy " << seed << ": " << message;
        EXPECT_EQ(message.rfind(name.string() + ": ", 0), 0u) << "copy " << seed << ": " << message;
        ++outcome.refused;
        outcome.refusals.emplace_back(seed, message);
    }
}

// Runs `kestrel-host inspect` on a file: its exit status and the lines it wrote to stderr.
std::pair<int, std::vector<std::string>> inspect_program(const fs::path& file, const fs::path& directory) {
    const fs::path errors = directory / "stderr.txt";
    const std::string command = std::string(KESTREL_HOST_PROGRAM) + " inspect '" + file.string() + "' >/dev/null 2>'" +
                                errors.string() + "'";
    const int status = std::system(command.c_str());
    std::ifstream in(errors);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), lines};
}

using kestrel::testing::TemporaryDirectory;

class DamagedCopies : public testing::TestWithParam<fs::path> {};

TEST_P(DamagedCopies, ListNormallyOrAreRefusedInOneLine) {
    const fs::path original = GetParam();
    const Bytes bytes = read_bytes(original);
    ASSERT_GT(bytes.size(), 1024u) << original;
    const bool windows = bytes[0] == 'M';
    const std::vector<Range> targets = windows ? windows_targets(original) : shared_object_targets(bytes);
    Outcome outcome;
    const fs::path name = original.filename().string() + ".damaged";
    for (uint32_t seed = 1; seed <= copies_per_module; ++seed) list_copy(name, damaged_copy(bytes, targets, seed), seed, outcome);
    std::cout << original.filename().string() << ": " << outcome.listed << " listed, " << outcome.refused << " refused\n";
    // Both outcomes occur, so that neither check above went unexercised.
    EXPECT_EQ(outcome.listed + outcome.refused, copies_per_module);
    EXPECT_GT(outcome.listed, 0);
    EXPECT_GT(outcome.refused, copies_per_module / 10);

    // The program itself on a few refused copies: one line on stderr and exit status 2.
    TemporaryDirectory directory;
    for (std::size_t i = 0; i < outcome.refusals.size() && i < 4; ++i) {
        const uint32_t seed = outcome.refusals[i * outcome.refusals.size() / 4].first;
        const fs::path copy = directory.path() / name;
        const Bytes damaged = damaged_copy(bytes, targets, seed);
        std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()),
                                                   static_cast<std::streamsize>(damaged.size()));
        const auto [status, lines] = inspect_program(copy, directory.path());
        EXPECT_EQ(status, 2) << "copy " << seed;
        ASSERT_EQ(lines.size(), 1u) << "copy " << seed << ": " << testing::PrintToString(lines);
        EXPECT_EQ(lines[0].rfind("kestrel-host: " + copy.string() + ": ", 0), 0u) << lines[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, DamagedCopies,
                         testing::Values(twin_modules / "KESTREL_TIMER.so", twin_modules / "KESTREL.so",
                                         windows_modules / "KESTREL_TIMER.gau", windows_modules / "KESTREL.GAU"),
                         [](const auto& info) {
                             std::string name = info.param.filename().string();
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// ---- Targeted copies of the real clock ---------------------------------------------------

class DamagedClock : public testing::Test {
protected:
    const fs::path path = windows_modules / "KESTREL_TIMER.gau";
    const Bytes original = read_bytes(path);
    const kestrel::pe::PeImage image = kestrel::pe::PeImage::read(path);
    const uint32_t optional_header = word_at(original, 0x3C) + 24;

    // The file offset of an RVA that the file stores.
    std::size_t offset_of(uint32_t rva) const {
        for (const auto& s : image.sections())
            if (rva >= s.virtual_address && rva < s.virtual_address + s.raw_size) return s.raw_offset + (rva - s.virtual_address);
        ADD_FAILURE() << "RVA " << rva << " is not stored in the file";
        return 0;
    }
    uint32_t directory_rva(int index) const { return image.directory(index).rva; }
    // The RVA of a record reached through the stored module (its image is laid out by RVA).
    static uint32_t rva_in(const StoredModule& module, const void* record) {
        return static_cast<uint32_t>(static_cast<const unsigned char*>(record) - module.bounds().begin);
    }
    std::string listing_of(const Bytes& bytes) const {
        std::ostringstream listing;
        kestrel::inspect(StoredModule::from_bytes(path, bytes), listing);
        return listing.str();
    }
    std::string refusal_of(const Bytes& bytes) const {
        try {
            listing_of(bytes);
        } catch (const HostError& error) {
            return error.what();
        }
        return "(listed)";
    }
    std::string load_refusal_of(const Bytes& bytes) const {
        TemporaryDirectory directory;
        const fs::path copy = directory.path() / "KESTREL_TIMER.gau";
        std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
        try {
            kestrel::LoadedModule::open(copy);
        } catch (const HostError& error) {
            return error.what();
        }
        return "(loaded)";
    }
};

// inspect never runs the module: a load entry or TLS callback that would fault if run
// changes nothing in the listing, and only the mapper refuses it.
TEST_F(DamagedClock, EntryAndTlsCallbacksNeverRunForTheListing) {
    const std::string clean = listing_of(original);
    Bytes entry = original;
    put_word(entry, optional_header + 16, 0x7FFFFFF0);
    EXPECT_EQ(listing_of(entry), clean);
    EXPECT_NE(load_refusal_of(entry).find("load entry does not lie in a code section"), std::string::npos)
        << load_refusal_of(entry);

    const uint32_t tls = directory_rva(kestrel::pe::tls_directory);
    ASSERT_NE(tls, 0u) << "the clock has a TLS directory";
    Bytes callbacks = original;
    put_word(callbacks, offset_of(tls) + 12, 0xFFFFFFF0);
    EXPECT_EQ(listing_of(callbacks), clean);
    EXPECT_NE(load_refusal_of(callbacks).find("TLS callback list 0xFFFFFFF0 lies outside the image"), std::string::npos)
        << load_refusal_of(callbacks);
    Bytes callback = original;
    put_word(callback, offset_of(tls) + 12, image.image_base() + tls);  // the list is the directory itself
    EXPECT_NE(load_refusal_of(callback).find("TLS callback"), std::string::npos) << load_refusal_of(callback);
}

// Stored pointers are followed only inside the image and aligned: a gauge name outside,
// an element list at an odd address, a failure list moved off its alignment.
TEST_F(DamagedClock, PointersOutsideTheImageOrMisalignedAreRefusedByName) {
    const StoredModule module = StoredModule::from_bytes(path, original);
    ASSERT_EQ(module.gauges().size(), 1u);
    const GaugeHeader& header = *module.gauges()[0];
    const uint32_t header_rva = rva_in(module, &header);

    Bytes name = original;
    put_word(name, offset_of(header_rva + offsetof(GaugeHeader, gauge_name)), image.image_base() + image.size_of_image() + 64);
    EXPECT_NE(refusal_of(name).find("gauge_name points outside the module's image"), std::string::npos) << refusal_of(name);

    Bytes list = original;
    const std::size_t at = offset_of(header_rva + offsetof(GaugeHeader, element_list));
    put_word(list, at, word_at(list, at) + 1);
    EXPECT_NE(refusal_of(list).find("element_list is not aligned"), std::string::npos) << refusal_of(list);

    // The first element with a failure list has it moved by one byte.
    const auto elements = kestrel::read_element_tree(*header.element_list, module.bounds());
    const auto with_failures = std::find_if(elements.begin(), elements.end(),
                                            [](const auto& entry) { return entry.element->failure_list != nullptr; });
    ASSERT_NE(with_failures, elements.end()) << "the clock has an element with a failure list";
    Bytes failures = original;
    const std::size_t failure_word = offset_of(rva_in(module, with_failures->element) + offsetof(ElementHeader, failure_list));
    put_word(failures, failure_word, word_at(failures, failure_word) + 2);
    EXPECT_NE(refusal_of(failures).find("element " + with_failures->label + ": failure_list is not aligned"), std::string::npos)
        << refusal_of(failures);
}

// Damaged export, import and relocation directories: refused by the reader before the
// mapper copies a byte.
TEST_F(DamagedClock, DamagedDirectoriesAreRefusedBeforeMapping) {
    const uint32_t exports = directory_rva(kestrel::pe::export_directory);
    const uint32_t imports = directory_rva(kestrel::pe::import_directory);
    const uint32_t relocations = directory_rva(kestrel::pe::relocation_directory);
    ASSERT_NE(exports, 0u);
    ASSERT_NE(imports, 0u);
    ASSERT_NE(relocations, 0u);
    struct Damage {
        std::size_t at;
        uint32_t word;
        std::string expected;
    };
    const Damage damages[] = {
        {offset_of(exports) + 24, 0x7FFFFFFF, "export directory names too many symbols"},
        {offset_of(exports) + 32, 0xFFFFFF00, "is not stored in the file"},
        {offset_of(imports) + 12, image.size_of_image() - 1, "is not stored in the file"},
        {offset_of(imports) + 16, image.size_of_image() - 2, "import address table of"},
        {offset_of(relocations) + 4, 6, "malformed relocation block"},
    };
    for (const Damage& damage : damages) {
        Bytes copy = original;
        put_word(copy, damage.at, damage.word);
        const std::string refusal = load_refusal_of(copy);
        EXPECT_NE(refusal.find(damage.expected), std::string::npos) << refusal;
        EXPECT_EQ(refusal.find('\n'), std::string::npos) << refusal;
    }
}

}  // namespace
