// Loading modules (shared libraries) by file name, and finding their exports.
#pragma once

#include <string>

namespace platform {

// Loads with RTLD_NOW | RTLD_LOCAL. A bare file name (no "/") is looked for first in the
// program's own folder, then by the loader's normal search. Null on failure; `error` gets the
// loader's text.
void* LoadModule(const std::string& path, std::string* error = nullptr);
// The export `name`; "@" in a decorated name is looked up as "$" (symbols cannot hold "@").
void* FindExport(void* module, const char* name);
// Unloads; false (with the loader's text in `error`) on failure.
bool FreeModule(void* module, std::string* error = nullptr);

}  // namespace platform
