// What every module fuzzer shares: the twin module loaded once and put back to its load
// state before every input, a reader that turns fuzz bytes into host actions, and a run
// that drives a gauge through the host's own driver and checks it after every action.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "driver.h"
#include "services.h"

namespace kestrel::fuzz {

// A fault the checks found: the message names the action and what was seen.
[[noreturn]] void finding(const std::string& message);

// Writable memory of a module kept as it was when saved, and put back by restore(): every
// input starts from the module's load state, so a finding replays from its input alone.
class SavedRegions {
public:
    void save(unsigned char* start, std::size_t size);
    void restore();

private:
    struct Region {
        unsigned char* start;
        std::vector<unsigned char> saved;
    };
    std::vector<Region> regions_;
};

// A gauge module linked as a shared object, opened once per process. Its writable data
// (every module variable, every record the module or the host writes) is copied after the
// load and copied back by reset(), so every input starts from the state of a fresh load
// and a finding replays from its input alone.
class TwinModule {
public:
    explicit TwinModule(const std::string& path);
    TwinModule(const TwinModule&) = delete;
    TwinModule& operator=(const TwinModule&) = delete;

    void reset();
    ImportTableRecord& import_table() const { return *import_table_; }
    GaugeHeader& gauge(std::string_view name) const;

private:
    void* handle_ = nullptr;
    ImportTableRecord* import_table_ = nullptr;
    std::vector<GaugeHeader*> gauges_;
    SavedRegions data_;
};

enum class ActionKind { set_var, update, click, service, key_event, standard_routine };

struct Action {
    ActionKind kind;
    uint32_t id = 0;      // token, service id, key event id or standard routine number
    double value = 0.0;   // set_var
    int32_t x = 0, y = 0; // click point
    uint32_t word = 0;    // click flags, service extra value or key event value
    std::string describe() const;
};

// Where in an input a check runs: the action's number and the action. Its text is made
// only for a finding, since checks run millions of times.
struct Place {
    std::size_t step;
    const Action* action;
    std::string text() const;
};

// A finding unless the condition holds; the message is built only then.
#define KESTREL_REQUIRE(condition, place, what)                                   \
    do {                                                                           \
        if (!(condition)) ::kestrel::fuzz::finding((place).text() + ": " + (what)); \
    } while (false)

// What one gauge's fuzzer knows of it: the host variables it reads and the key events it
// sends and listens to (so that the reader picks them often), and its checks.
struct GaugeRules {
    std::string gauge_name;
    std::string twin_file;  // the shared object of this build
    std::string real_file;  // the shipped Windows module
    std::vector<uint32_t> tokens;
    std::set<uint32_t> sent_events;      // every id the gauge may send
    std::vector<uint32_t> heard_events;  // ids its listener acts on
    std::vector<int32_t> services;       // service ids it acts on
    // Checks after an update: the samples of every element, the host's variables, and
    // the action's place in the input for messages.
    std::function<void(const UpdateResult&, const PanelHost&, const Place& where)> check_update;
    // Checks after any action: the key events it made the module send (their ids are
    // already checked against sent_events) and whatever the elements show.
    std::function<void(const Action&, const GaugeDriver&, const PanelHost&, const std::vector<KeyEvent>&,
                       const Place& where)>
        check_action;
    // Elements the gauge has, checked once per run so that the indices the checks use hold.
    std::size_t element_count = 0;
    // Clears what the checks remember from update to update, before every run.
    std::function<void()> start_run;
};

// Decodes fuzz bytes into actions, biased toward the gauge's tokens, events and click
// areas and toward the host values that break arithmetic.
std::vector<Action> read_actions(const uint8_t* data, std::size_t size, const GaugeRules& rules,
                                 const std::vector<MouseListEntry>& areas);

// Everything an action left visible to the host, for comparing two builds of a module.
struct Observation {
    std::string action;
    std::vector<KeyEvent> key_events;
    std::vector<std::string> samples;  // per element: value bits, image flags, text
    bool operator==(const Observation&) const = default;
};

// Runs the actions on the gauge, checking after every action. Returns what each action
// left visible when `observe` is set.
std::vector<Observation> run_actions(GaugeDriver& driver, PanelHost& host, const GaugeRules& rules,
                                     const std::vector<Action>& actions, bool observe);

// The whole run for one input on the twin: reset, attach, drive, check.
void fuzz_twin(TwinModule& module, const GaugeRules& rules, const uint8_t* data, std::size_t size);


// The value an element's callback returned in an update; a finding if it has none.
double value_of(const UpdateResult& update, std::size_t element, const Place& where);
// A value as text with all its digits, for messages.
std::string show(double value);

// The twin module of this build with this file name, loaded on first use.
TwinModule& twin_module(const std::string& file);

// Bits of a double, so that NaN payloads and -0 compare as the host sees them.
uint64_t bits_of(double value);

}  // namespace kestrel::fuzz
