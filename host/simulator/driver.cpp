// Driving one gauge: the host's side of every entry into the gauge's code, with the
// read-out buffers checked after each entry so that no overrun passes unseen.
#include "driver.h"

#include "scenario.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrel {

// One read-out's buffer in the driver's arena: char_count + 1 bytes of text, then the
// guard bytes. Plain data in one array, since every entry into the module checks them all.
struct GaugeDriver::TextBuffer {
    char* text;
    uint32_t text_size;    // char_count + 1
    uint32_t nul_mask;     // the bits of the text's bytes among 16 (all 16 for longer texts)
    std::size_t element_index;
    StringElement* element;
};

namespace {

constexpr std::string_view routine_names[] = {"query", "install", "initialize", "update",
                                              "generate", "draw", "kill"};

}  // namespace

std::string_view standard_routine_name(StandardRoutineId routine) {
    const int number = static_cast<int>(routine);
    return number >= 1 && number <= 7 ? routine_names[number - 1] : "unknown";
}

std::optional<StandardRoutineId> standard_routine_by_name(std::string_view name) {
    if (name.size() == 1 && name[0] >= '1' && name[0] <= '7') return StandardRoutineId{name[0] - '0'};
    constexpr std::string_view suffix = "_routine";
    if (name.size() > suffix.size() && name.ends_with(suffix)) name.remove_suffix(suffix.size());
    for (int i = 0; i < 7; ++i)
        if (name == routine_names[i]) return StandardRoutineId{i + 1};
    return std::nullopt;
}

GaugeDriver::GaugeDriver(LoadedModule& module, PanelHost& host, std::string_view gauge_name)
    : GaugeDriver(module.gauge(gauge_name), host, RecordBounds{module.image_begin(), module.image_end()}) {}

GaugeDriver::GaugeDriver(GaugeHeader& header, PanelHost& host, const RecordBounds& bounds)
    : header_(&header), host_(&host), bounds_(bounds) {
    if (bounds_.bounded()) bounds_.check(header_->element_list, "gauge " + name() + ": element_list");
    elements_ = read_element_tree(root(), bounds_);
    if (header.mouse_rect_list != nullptr) mouse_list_ = read_mouse_list(header.mouse_rect_list, bounds_);
    provide_text_buffers();
    plan_updates();
}

GaugeDriver::~GaugeDriver() {
    // The module outlives this driver: leave it no pointer into freed buffers.
    for (const TextBuffer& buffer : buffers_)
        if (buffer.element->text == buffer.text) buffer.element->text = nullptr;
}

std::string GaugeDriver::name() const { return gauge_name_of(*header_); }

ElementHeader* GaugeDriver::root() const {
    if (header_->element_list == nullptr) throw HostError("gauge " + name() + ": element_list is NULL");
    return *header_->element_list;
}

void GaugeDriver::provide_text_buffers() {
    // The buffers lie one after the other, each text followed by its guard; the arena is
    // sized once, before any buffer points into it, and rounded up to whole chunks.
    std::size_t arena_size = 0;
    for (const ElementEntry& entry : elements_) {
        if (entry.element->element_kind != string_element) continue;
        const auto& readout = reinterpret_cast<const StringElement&>(*entry.element);
        if (readout.char_count > max_char_count)
            throw HostError("gauge " + name() + ": read-out " + entry.label + " claims " +
                            std::to_string(readout.char_count) + " characters (at most " +
                            std::to_string(max_char_count) + " are accepted)");
        arena_size += readout.char_count + 1 + text_guard_size;
    }
    // Whole rounds of the comparison: the chunks past the last guard are compared too.
    const std::size_t chunks = (arena_size + sizeof(ArenaChunk) - 1) / sizeof(ArenaChunk);
    arena_chunks_ = (chunks + chunks_per_round - 1) / chunks_per_round * chunks_per_round;
    arena_.resize(2 * arena_chunks_);
    char* const arena = reinterpret_cast<char*>(arena_.data());
    std::fill(arena, arena + arena_.size() * sizeof(ArenaChunk), static_cast<char>(text_guard_byte));
    std::size_t offset = 0;
    for (const ElementEntry& entry : elements_) {
        if (entry.element->element_kind != string_element) continue;
        auto& readout = reinterpret_cast<StringElement&>(*entry.element);
        char* text = arena + offset;
        const uint32_t text_size = readout.char_count + 1;
        std::fill(text, text + text_size, '\0');
        offset += text_size + text_guard_size;
        readout.text = text;
        const uint32_t nul_mask = text_size < 16 ? (uint32_t{1} << text_size) - 1 : 0xFFFFu;
        long_texts_ = long_texts_ || text_size > 16;
        buffers_.push_back({text, text_size, nul_mask, entry.index, &readout});
        pointers_.push_back({&readout.text, text});
    }
    pointer_count_ = static_cast<uint32_t>(pointers_.size());
    // Empty texts and untouched guards: the state every later check compares with.
    remember_arena();
}

namespace {

#if defined(__SSE2__)
// Sixteen bytes at a time: the guard is one compare, the NUL search one per 16 bytes.
bool guard_intact(const char* guard) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(guard));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(text_guard_byte)))) == 0xFFFF;
}

// Loads reach at most 15 bytes past the text, into its guard; bytes past the text are
// masked off, so the guard's own value does not matter here. A text of 16 bytes or
// fewer, every read-out's, is one load.
bool terminated_within(const char* text, uint32_t size) {
    const __m128i zero = _mm_setzero_si128();
    if (size <= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
        const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
        return (zeros & ((uint32_t{1} << size) - 1)) != 0;
    }
    for (uint32_t at = 0; at < size; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
        if (size - at < 16) zeros &= (1u << (size - at)) - 1;
        if (zeros != 0) return true;
    }
    return false;
}
#else
constexpr uint32_t guard_word = 0x01010101u * text_guard_byte;

uint32_t load_word(const char* at) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

bool guard_intact(const char* guard) {
    return load_word(guard) == guard_word && load_word(guard + 4) == guard_word && load_word(guard + 8) == guard_word &&
           load_word(guard + 12) == guard_word;
}

bool terminated_within(const char* text, uint32_t size) { return std::memchr(text, '\0', size) != nullptr; }
#endif

}  // namespace

void GaugeDriver::remember_arena() const {
    std::copy(arena_.begin(), arena_.begin() + static_cast<std::ptrdiff_t>(arena_chunks_),
              arena_.begin() + static_cast<std::ptrdiff_t>(arena_chunks_));
}

// Inlined where every callback is checked: the call itself was a good part of the cost.
// Most entries leave every read-out as it was, or write the text it already held; a state
// byte for byte the same as one that passed the whole check cannot be at fault, so the
// arena is compared with that state, sixteen bytes at a time, and the pointers with the
// host's. Any difference at all, in text, guard or pointer, leads to the whole check.
[[gnu::always_inline]] inline bool GaugeDriver::text_buffers_as_verified() const {
    // A branch per pointer, always the same way, costs less than gathering them; a
    // gauge's few read-outs are compared without a loop.
    const WatchedPointer* pointer = pointers_.data();
    // The field lies in a packed record, where a 64-bit build may not align it: read it as
    // bytes, which compiles to one load where it is aligned.
    const auto moved = [](const WatchedPointer& each) {
        const char* now;
        std::memcpy(&now, each.field, sizeof now);
        return now != each.text;
    };
    switch (pointer_count_) {
        case 8: if (moved(pointer[7])) return false; [[fallthrough]];
        case 7: if (moved(pointer[6])) return false; [[fallthrough]];
        case 6: if (moved(pointer[5])) return false; [[fallthrough]];
        case 5: if (moved(pointer[4])) return false; [[fallthrough]];
        case 4: if (moved(pointer[3])) return false; [[fallthrough]];
        case 3: if (moved(pointer[2])) return false; [[fallthrough]];
        case 2: if (moved(pointer[1])) return false; [[fallthrough]];
        case 1: if (moved(pointer[0])) return false; [[fallthrough]];
        case 0: break;
        default:
            for (const WatchedPointer& each : pointers_)
                if (moved(each)) return false;
    }
    // The arena's chunks, then the same number as the last check that passed saw them.
    const ArenaChunk* now = arena_.data();
    const std::size_t chunks = arena_chunks_;
#if defined(__SSE2__)
    const auto difference = [](const ArenaChunk* a, const ArenaChunk* b) {
        return _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(a)),
                             _mm_load_si128(reinterpret_cast<const __m128i*>(b)));
    };
    // Four chunks from `at` against the four `apart` chunks further on.
    const auto round = [&](const ArenaChunk* at, std::size_t apart) {
        return _mm_or_si128(_mm_or_si128(difference(at, at + apart), difference(at + 1, at + apart + 1)),
                            _mm_or_si128(difference(at + 2, at + apart + 2), difference(at + 3, at + apart + 3)));
    };
    const auto none = [](__m128i differences) {
        return _mm_movemask_epi8(_mm_cmpeq_epi8(differences, _mm_setzero_si128())) == 0xFFFF;
    };
    // Most gauges' read-outs fit 64 or 128 bytes with their guards: no loop, and offsets
    // the compiler knows.
    if (chunks == 2 * chunks_per_round)
        return none(_mm_or_si128(round(now, 2 * chunks_per_round), round(now + chunks_per_round, 2 * chunks_per_round)));
    if (chunks == chunks_per_round) return none(round(now, chunks_per_round));
    // Whole rounds of four chunks, none for a gauge without read-outs.
    static_assert(chunks_per_round == 4);
    __m128i differences = _mm_setzero_si128();
    for (const ArenaChunk* at = now; at != now + chunks; at += chunks_per_round)
        differences = _mm_or_si128(differences, round(at, chunks));
    return none(differences);
#else
    return std::memcmp(now, now + chunks, chunks * sizeof(ArenaChunk)) == 0;
#endif
}

// The whole check: every guard intact, every text terminated, every pointer the host's.
bool GaugeDriver::text_buffers_intact() const {
    // Without branches per buffer: the faults of all buffers are gathered, and only a
    // fault leads to the slow search for the buffer at fault.
#if defined(__SSE2__)
    if (!long_texts_) {
        // Every text fits 16 bytes: one load for the text, one for its guard.
        const __m128i guard = _mm_set1_epi8(static_cast<char>(text_guard_byte));
        const __m128i zero = _mm_setzero_si128();
        uint32_t faults = 0;
        for (const TextBuffer& buffer : buffers_) {
            const char* text = buffer.text;
            const __m128i guard_bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + buffer.text_size));
            const __m128i text_bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
            const auto guard_kept = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(guard_bytes, guard)));
            const auto zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(text_bytes, zero)));
            faults |= (guard_kept ^ 0xFFFFu) | static_cast<uint32_t>((zeros & buffer.nul_mask) == 0) |
                      static_cast<uint32_t>(buffer.element->text != text);
        }
        return faults == 0;
    }
#endif
    bool intact = true;
    for (const TextBuffer& buffer : buffers_)
        intact &= (buffer.element->text == buffer.text) & guard_intact(buffer.text + buffer.text_size) &
                  terminated_within(buffer.text, buffer.text_size);
    return intact;
}

void GaugeDriver::check_text_buffers(std::string_view after, std::string_view element_label) const {
    // Runs after every entry into the module, so the test is a few compares per buffer;
    // the report is composed only on a fault.
    static_assert(text_guard_size == 16);
    if (text_buffers_as_verified()) [[likely]]
        return;
    if (text_buffers_intact()) {
        remember_arena();
        return;
    }
    for (const TextBuffer& buffer : buffers_) {
        if (buffer.element->text == buffer.text && guard_intact(buffer.text + buffer.text_size) &&
            terminated_within(buffer.text, buffer.text_size))
            continue;
        const bool pointer_kept = buffer.element->text == buffer.text;
        const bool guards_intact = guard_intact(buffer.text + buffer.text_size);
        const uint32_t char_count = buffer.text_size - 1;
        const auto where = [&] {
            return "gauge " + name() + ": read-out " + elements_[buffer.element_index].label + " (element " +
                   std::to_string(buffer.element_index) + ", char_count " + std::to_string(char_count) +
                   "): " + std::string(after) + std::string(element_label);
        };
        if (!pointer_kept) throw HostError(where() + " replaced the host's text pointer");
        // Restore the buffer so that the driver stays usable after the report.
        std::fill(buffer.text + buffer.text_size, buffer.text + buffer.text_size + text_guard_size,
                  static_cast<char>(text_guard_byte));
        buffer.text[char_count] = '\0';
        throw HostError(where() + (guards_intact ? " left the text without a NUL within its buffer"
                                       : " wrote past the end of the text buffer"));
    }
}

ElementHeader& GaugeDriver::element(std::size_t index) const {
    if (index >= elements_.size())
        throw HostError("gauge " + name() + ": no element " + std::to_string(index) + " (it has " +
                        std::to_string(elements_.size()) + ")");
    return *elements_[index].element;
}

std::size_t GaugeDriver::element_index(std::string_view label) const {
    if (const std::optional<std::size_t> index = scenario::element_index_label(label)) {
        if (*index < elements_.size()) return *index;
    } else {
        for (const ElementEntry& entry : elements_)
            if (entry.label == label) return entry.index;
    }
    throw HostError("gauge " + name() + " has no element " + std::string(label) + " (it has [0] to [" +
                    std::to_string(elements_.size() - 1) + "] in drawing order, as kestrel-host inspect lists them)");
}

std::string GaugeDriver::text(std::size_t index) const {
    const ElementHeader& header = element(index);
    if (header.element_kind != string_element)
        throw HostError("gauge " + name() + ": element " + elements_[index].label + " is a " +
                        std::string(element_kind_name(header.element_kind)) + ", not a read-out");
    std::string text;
    copy_readout_text(reinterpret_cast<const StringElement&>(header), text);
    return text;
}

namespace {

// Any read-out's text, however long; true when it differs from the one `into` held.
bool copy_any_readout_text(const StringElement& readout, std::string& into);

#if defined(__SSE2__)
// Most updates leave a read-out's text as the update before left it: a short text is
// compared with the one held, sixteen bytes at once, and copied only when it differs.
// The load reaches past a text of 15 characters or fewer only into its guard, and into a
// string only within its own short-text storage of 16 bytes.
[[gnu::always_inline]] inline bool refresh_readout_text(const StringElement& readout, std::string& into) {
    static_assert(text_guard_size >= 16);
    const char* text = readout.text;
    if (text == nullptr || readout.char_count > 15) return copy_any_readout_text(readout, into);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const uint32_t within = (uint32_t{2} << readout.char_count) - 1;
    const auto zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()))) & within;
    if (zeros == 0) return copy_any_readout_text(readout, into);
    const auto length = static_cast<std::size_t>(__builtin_ctz(zeros));
    if (into.size() == length && into.capacity() < 16) {
        const __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(into.data()));
        const auto same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, held)));
        const uint32_t text_bytes = (uint32_t{1} << length) - 1;
        if ((same & text_bytes) == text_bytes) return false;
    }
    into.assign(text, length);
    return true;
}
#else
inline bool refresh_readout_text(const StringElement& readout, std::string& into) { return copy_any_readout_text(readout, into); }
#endif

}  // namespace

void copy_readout_text(const StringElement& readout, std::string& into) { copy_any_readout_text(readout, into); }

bool GaugeDriver::copy_text(const StringElement& readout, std::string& into) const {
    // The comparison loads sixteen bytes: only from a buffer of this driver's arena.
    const char* const arena = reinterpret_cast<const char*>(arena_.data());
    if (readout.text >= arena && readout.text + 16 <= arena + arena_chunks_ * sizeof(ArenaChunk))
        return refresh_readout_text(readout, into);
    return copy_any_readout_text(readout, into);
}

namespace {

bool copy_any_readout_text(const StringElement& readout, std::string& into) {
    if (readout.text == nullptr) {
        const bool changed = !into.empty();
        into.clear();
        return changed;
    }
    const std::size_t limit = std::size_t{readout.char_count} + 1;
    const auto* end = static_cast<const char*>(std::memchr(readout.text, '\0', limit));
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - readout.text) : limit;
    if (into.size() == length && std::memcmp(into.data(), readout.text, length) == 0) return false;
    into.assign(readout.text, length);
    return true;
}

}  // namespace

uint32_t GaugeDriver::run_standard_routine(StandardRoutineId routine, uint32_t host_value) {
    const GaugeHeader& h = *header_;
    // Calls the routine if the header names one; nullopt for a NULL pointer.
    auto call = [](auto pointer, auto... arguments) -> std::optional<uint32_t> {
        if (pointer == nullptr) return std::nullopt;
        return pointer(arguments...);
    };
    std::optional<uint32_t> result;
    switch (routine) {
        case StandardRoutineId::query: result = call(h.query_routine); break;
        case StandardRoutineId::install: result = call(h.install_routine, host_value); break;
        case StandardRoutineId::initialize: result = call(h.initialize_routine); break;
        case StandardRoutineId::update: result = call(h.update_routine); break;
        case StandardRoutineId::generate: result = call(h.generate_routine, host_value); break;
        case StandardRoutineId::draw: result = call(h.draw_routine); break;
        case StandardRoutineId::kill: result = call(h.kill_routine); break;
    }
    const std::string routine_field = std::string(standard_routine_name(routine)) + "_routine";
    if (!result) throw HostError("gauge " + name() + ": " + routine_field + " is NULL");
    check_text_buffers(routine_field);
    return *result;
}

uint32_t GaugeDriver::run_standard_routine(std::string_view routine_name, uint32_t host_value) {
    const auto routine = standard_routine_by_name(routine_name);
    if (!routine)
        throw HostError("no standard routine \"" + std::string(routine_name) +
                        "\" (query, install, initialize, update, generate, draw, kill or 1..7)");
    return run_standard_routine(*routine, host_value);
}

std::vector<KeyEvent> GaugeDriver::events_since(std::size_t log_size) const {
    const auto& log = host_->key_events_sent();
    return {log.begin() + static_cast<std::ptrdiff_t>(log_size), log.end()};
}

UpdateResult GaugeDriver::update() {
    UpdateResult result;
    update(result);
    return result;
}

void GaugeDriver::plan_updates() {
    // What an update does per element, worked out once from the records: where its
    // callback pointer is (read afresh at every update, as the simulator reads it), which
    // variables it embeds and whether it is a read-out.
    for (const ElementEntry& entry : elements_) {
        ElementHeader& element = *entry.element;
        UpdateStep step{&element, nullptr, nullptr, nullptr};
        switch (element.element_kind) {
            case needle_element: {
                auto& needle = reinterpret_cast<NeedleElement&>(element);
                step = {&element, &needle.value_callback, &needle.source_var, nullptr};
                break;
            }
            case icon_element: {
                auto& icon = reinterpret_cast<IconElement&>(element);
                step = {&element, &icon.value_callback, &icon.source_var, nullptr};
                break;
            }
            case string_element: {
                auto& readout = reinterpret_cast<StringElement&>(element);
                step = {&element, &readout.value_callback, readout.source_vars, &readout};
                break;
            }
            default: break;
        }
        plan_.push_back(step);
    }
}

void GaugeDriver::update(UpdateResult& result) {
    const std::size_t log_size = host_->key_events_sent().size();
    if (result.samples.size() != elements_.size() ||
        (!elements_.empty() && result.samples.front().label.data() != elements_.front().label.data())) {
        // A result of another driver, or a fresh one: the fields that never change.
        result.samples.assign(elements_.size(), {});
        for (const ElementEntry& entry : elements_) {
            ElementSample& sample = result.samples[entry.index];
            sample.index = entry.index;
            sample.label = entry.label;
            sample.kind = entry.element->element_kind;
            sample.resource_id = entry.element->resource_id;
        }
    }
    // The loop keeps what it needs in locals: after every callback, an opaque call, the
    // compiler would otherwise reload it all through `this`.
    ElementSample* sample = result.samples.data();
    const PanelHost& host = *host_;
    const double* const direct = host.direct_vars();
    for (const UpdateStep *step = plan_.data(), *const last = step + plan_.size(); step != last; ++step, ++sample) {
        bool checked = false;  // every text pointer is the host's, just checked
        ElementCallback callback = nullptr;
        if (step->callback != nullptr) std::memcpy(&callback, step->callback, sizeof callback);
        if (callback != nullptr) {
            // The host refreshes the variables embedded in an element before calling its
            // callback: those the simulator numbers in the low thousands straight from
            // the table, token 0 (none) left alone, the rest from the map. An element
            // with a callback embeds one variable, a read-out three: no loop.
            const auto refresh = [&](ModuleVar& variable) {
                const uint32_t token = variable.token;
                if (token - 1u < PanelHost::direct_tokens - 1u) variable.value = direct[token];
                else if (token != 0) variable.value = host.var(token);
            };
            static_assert(sizeof(StringElement::source_vars) == 3 * sizeof(ModuleVar));
            ModuleVar* const vars = step->vars;
            refresh(vars[0]);
            if (step->readout != nullptr) {
                refresh(vars[1]);
                refresh(vars[2]);
            }
            sample->value = callback(step->element);
            if (!text_buffers_as_verified()) [[unlikely]]
                check_text_buffers("the callback of element ", elements_[sample->index].label);
            checked = true;
        } else {
            sample->value.reset();
        }
        sample->image_flags = step->element->image_flags;
        if (const StringElement* readout = step->readout) {
            // Refilled in place: the sample keeps its storage from update to update.
            if (!sample->text) sample->text.emplace();
            if (checked) refresh_readout_text(*readout, *sample->text);
            else copy_text(*readout, *sample->text);
        }
    }
    // Listeners run only when an event is pending; each run is an entry, checked after.
    if (host_->pending_key_events() != 0) {
        host_->deliver_pending_key_events();
        check_text_buffers("a key-event listener");
    }
    const auto& log = host_->key_events_sent();
    result.key_events.assign(log.begin() + static_cast<std::ptrdiff_t>(log_size), log.end());
}

ClickResult GaugeDriver::click(int32_t x, int32_t y, uint32_t flags) {
    // A record is under the point when its box and every enclosing parent's box hold it.
    auto under_point = [&](const MouseListEntry& entry) {
        for (const MouseListEntry* each = &entry;; each = &mouse_list_[*each->parent]) {
            if (!each->whole_gauge && !box_contains(each->box, x, y)) return false;
            if (!each->parent) return true;
        }
    };

    ClickResult result;
    std::size_t help_depth = 0;
    bool help_found = false;
    for (const MouseListEntry& entry : mouse_list_) {
        const MouseRect& record = *entry.record;
        if (record.rect_kind == mouse_parent && (record.help_id != 0 || entry.tooltip != nullptr) &&
            (!help_found || entry.depth > help_depth) && under_point(entry)) {
            help_found = true;
            help_depth = entry.depth;
            result.help_id = record.help_id;
            result.tooltip = entry.tooltip != nullptr ? std::optional(cp1252_to_utf8(entry.tooltip)) : std::nullopt;
        }
        if (record.rect_kind == mouse_child && !result.area && (record.mouse_flags & flags) != 0 &&
            under_point(entry)) {
            if (record.target.handler == nullptr)
                throw HostError("gauge " + name() + ": click area at record " + std::to_string(entry.index) +
                                " has no handler");
            result.area = entry.index;
            result.handler = record.target.handler;
        }
    }
    if (!result.area) return result;

    const std::size_t log_size = host_->key_events_sent().size();
    const PixelPoint point{x, y};
    result.result = result.handler(&point, flags);
    check_text_buffers("the click handler of record " + std::to_string(*result.area));
    host_->deliver_pending_key_events();
    check_text_buffers("a key-event listener");
    result.key_events = events_since(log_size);
    return result;
}

GaugeCallbackResult GaugeDriver::gauge_callback(int32_t service_id, uint32_t extra) {
    GaugeCallbackResult result;
    const std::size_t log_size = host_->key_events_sent().size();
    if (header_->gauge_callback != nullptr) {
        result.called = true;
        header_->gauge_callback(header_, service_id, extra);
        check_text_buffers("the gauge callback");
    }
    host_->deliver_pending_key_events();
    check_text_buffers("a key-event listener");
    result.key_events = events_since(log_size);
    return result;
}

}  // namespace kestrel
