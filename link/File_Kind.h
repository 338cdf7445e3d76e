#pragma once

#include <QString>

#include <sys/types.h>

// What a path names, in the words messages use: "a directory", "a named pipe", "a device" ...
// Saves, script readers and the serial port each refuse what is not their kind, and say so.
namespace File_Kind {

QString of(mode_t mode);
// "" when nothing is there (or it cannot be looked at); links are followed.
QString at(const QString &path);

} // namespace File_Kind
