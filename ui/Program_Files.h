#pragma once

#include <QString>

// Where the program finds what travels with it. The program's folder holds the executable,
// Files/User_Guide.pdf and examples/: the build folder, or lib/orvik/ of an installation,
// whose bin/ holds only links to it.
namespace Program_Files {

// The version of this build, "0.1".
QString version();

// The folder of the executable itself, behind any link to it.
QString programFolder();
QString userGuidePath();
QString examplesFolder();

// Where a save dialog starts: the folder asked for when it can be written, otherwise the
// operator's home folder (an installed program's folder belongs to root).
QString saveFolder(const QString &folder);

} // namespace Program_Files
