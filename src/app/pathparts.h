// Splitting paths at their last separator. Paths here use the platform separator '/', which
// never occurs inside a multi-byte character.
#pragma once

#include <QString>

inline constexpr char16_t kPathSeparator = u'/';

// The part of strPath from its last separator, the separator included, to the end; empty when
// strPath holds no separator. "/home/u/clip1.mpg" gives "/clip1.mpg".
QString TailFromLastBackslash(const QString& strPath);

// The part of strPath up to and including its last separator; empty when it holds none.
// "/opt/tarnwick/tarnwick.HLP" gives "/opt/tarnwick/".
QString FolderOfPath(const QString& strPath);

// strPath without the extension of its file name: cut at the last "." after the last
// separator, so a dot in a folder name is never taken for one. "/home/u/my.clips/part" stays
// as it is; "/home/u/cut.avi" gives "/home/u/cut".
QString RemoveFileExtension(const QString& strPath);
