#pragma once
#include <optional>
#include <string>

// Qt wants a runtime folder (XDG_RUNTIME_DIR) and warns on every start of a session that has
// none, although it then makes one itself. Before the application object is made, this gives
// the process a private folder of its own in the temporary folder (made 0700, and taken only
// when it is a folder of this user that nobody else may enter), so a normal start says nothing.
// Returns the folder now in XDG_RUNTIME_DIR, or nothing when none could be had (Qt then warns
// as before).
std::optional<std::string> provideRuntimeFolder();
