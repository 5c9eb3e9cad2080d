#pragma once
#include <QString>

// The document Help opens, first match wins: the file an installed program ships beside itself
// (<prefix>/share/mervane/help.html), the file in the source tree of a build that was never
// installed, or else the copy compiled into the program, written out by writeHelpDocument.
// Returns an empty string when none of them can be had.
QString helpDocumentPath();

// Where an installed program's help document lies, given the folder of the executable.
QString installedHelpDocument(const QString& programDir);

// The first of the installed and the source-tree document that exists, or an empty string.
QString findHelpDocument(const QString& programDir, const QString& sourceTreeFile);

// Puts the help document we ship into a file a browser can open, in the user's cache folder
// (rewritten on every call, so it always matches this build). Returns its path, or an empty
// string when it could not be written. `folder` overrides the cache folder (tests).
QString writeHelpDocument(const QString& folder = {});
