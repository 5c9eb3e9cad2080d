#pragma once
#include <QString>

// Puts the help document we ship into a file a browser can open, in the user's cache folder
// (rewritten on every call, so it always matches this build). Returns its path, or an empty
// string when it could not be written. `folder` overrides the cache folder (tests).
QString writeHelpDocument(const QString& folder = {});
