#pragma once

#include <QString>

// One value of a private-profile (INI) file. Section and key names match in any letter case and
// with blanks around them; the value is what follows the first "=", blanks around it removed,
// cut to 149 characters. The first matching section, and in it the first matching key, win.
// "" when the file, the section or the key is missing.
QString Read_INI_Value(const QString &Section, const QString &Key, const QString &File_Name);
