// `kestrel-host session`: keeps one module loaded and plays scenario commands that arrive
// one per line on standard input, answering each with one JSON line on standard output.
// The bench's live panel talks to the module through it.
#pragma once

namespace kestrel {

// argv holds the arguments after "session": MODULE_FILE --gauge-info DIR.
int session_command(int argc, char** argv);

}  // namespace kestrel
