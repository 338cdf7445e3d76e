#pragma once

#include <QString>

// What a save may write over. A save creates a regular file or replaces one (through a link as
// well); anything else the path names (a folder, a named pipe, a device) is left alone, since
// replacing it with a file would break what relies on it and report a save that went nowhere.
namespace Save_Target {

// Why a save to path must not go ahead, "it is a named pipe, not a regular file"; "" when it may.
QString refusal(const QString &path);

// Why a file could not be written at path, from what is there now, for writers that only say
// that they failed ("it is read-only", "its folder /x is read-only" ...).
QString whyNotWritable(const QString &path);

} // namespace Save_Target
