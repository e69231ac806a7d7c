// Temporary plug-in copies left behind by earlier runs.
#pragma once

#include <string>

// Deletes every "OSTRABEL.dll-*" in `tempDirectory` (which ends with "/"); failures are ignored.
void DeleteLeftoverCopies(const std::string& tempDirectory);
