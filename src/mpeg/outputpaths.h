// Names of the numbered pieces of a series, file names cut out of paths, and the existence
// test that decides whether a clip output must be confirmed before it is replaced. Only '/'
// separates folders; '\' is an ordinary character of a name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/io/fileio.h"

// The part of path after its last '/', or the whole path when it holds none.
std::string ExtractFileName(std::string_view path);

// Digits of the piece count written in decimal: the width of every piece number of a series.
int PieceNumberWidth(int32_t count);

// The piece name pattern "%s_%0Ld.mpg" with L the width of the count, e.g. "%s_%02d.mpg" for
// 12 pieces. Describes the names MakePiecePath forms; never used as a format string.
std::string MakePieceNamePattern(int32_t count);

// The source path without the extension of its file name: the last '.' counts only within
// the file name, never within a folder name.
std::string PieceStem(std::string_view sourcePath);

// The path of piece `index` of `count`: the output folder text followed directly (no separator
// added) by the stem's file name, '_', the index zero-padded to the count's width, ".mpg".
std::string MakePiecePath(std::string_view sourcePath, int32_t count, int32_t index,
                          std::string_view outputFolder);

// Where the pieces of one series go: every piece path is m_strFolder (empty, or ending in '/')
// followed by m_strPrefix, the index written with exactly m_nWidth digits, and ".mpg".
struct PieceNameParts {
    std::string m_strFolder;
    std::string m_strPrefix;
    int m_nWidth = 1;
};
PieceNameParts SplitPiecePaths(std::string_view sourcePath, int32_t count,
                               std::string_view outputFolder);

// The index of the piece a file name in that folder stands for, or -1 for any other name.
int64_t PieceIndexOfName(std::string_view name, const PieceNameParts& parts);

// True when the path names anything at all, even what cannot be opened or read.
bool FileExists(IFileSystem& fileSystem, const std::string& path);
