#include "host/vmcfg/GlobalOptions.h"

void GlobalOptions::addTo(CLI::App& app) {
    app.add_option("--root", root,
                   "Platform root directory (default: $VM_ROOT, else VM_ROOT= in the platform's "
                   "defaults file, else /)");
    app.add_flag("--json", json, "Machine-readable output (JSON)");
    app.add_option("--box", box, "Processor box number of this process")
        ->check(CLI::Range(0, 65535));
    app.add_option("--trace-level", traceLevel, "Platform trace level")->check(CLI::Range(0, 9));
}
