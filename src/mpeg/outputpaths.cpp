// Piece naming and path helpers.
#include "mpeg/outputpaths.h"

#include <cstdio>

namespace {

size_t LastSeparator(std::string_view path) {
    return path.rfind('/');
}

}  // namespace

std::string ExtractFileName(std::string_view path) {
    const size_t separator = LastSeparator(path);
    if (separator == std::string_view::npos) {
        return std::string(path);
    }
    return std::string(path.substr(separator + 1));
}

int PieceNumberWidth(int32_t count) {
    return std::snprintf(nullptr, 0, "%d", count);
}

std::string MakePieceNamePattern(int32_t count) {
    return "%s_%0" + std::to_string(PieceNumberWidth(count)) + "d.mpg";
}

std::string PieceStem(std::string_view sourcePath) {
    const size_t separator = LastSeparator(sourcePath);
    const size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const size_t dot = sourcePath.rfind('.');
    if (dot == std::string_view::npos || dot < nameStart) {
        return std::string(sourcePath);
    }
    return std::string(sourcePath.substr(0, dot));
}

std::string MakePiecePath(std::string_view sourcePath, int32_t count, int32_t index,
                          std::string_view outputFolder) {
    char number[32];
    std::snprintf(number, sizeof number, "_%0*d.mpg", PieceNumberWidth(count), index);
    std::string name = ExtractFileName(PieceStem(sourcePath) + number);
    return std::string(outputFolder) + name;
}

PieceNameParts SplitPiecePaths(std::string_view sourcePath, int32_t count,
                               std::string_view outputFolder) {
    PieceNameParts parts;
    parts.m_nWidth = PieceNumberWidth(count);
    const std::string first = MakePiecePath(sourcePath, count, 0, outputFolder);
    const size_t separator = LastSeparator(first);
    const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    parts.m_strFolder = first.substr(0, nameStart);
    // The name ends in the zero-padded index 0 and ".mpg".
    const size_t suffix = static_cast<size_t>(parts.m_nWidth) + 4;
    parts.m_strPrefix = first.substr(nameStart, first.size() - nameStart - suffix);
    return parts;
}

int64_t PieceIndexOfName(std::string_view name, const PieceNameParts& parts) {
    const size_t width = static_cast<size_t>(parts.m_nWidth);
    if (name.size() != parts.m_strPrefix.size() + width + 4 ||
        !name.starts_with(parts.m_strPrefix) || !name.ends_with(".mpg")) {
        return -1;
    }
    int64_t index = 0;
    for (char digit : name.substr(parts.m_strPrefix.size(), width)) {
        if (digit < '0' || digit > '9') {
            return -1;
        }
        index = index * 10 + (digit - '0');
    }
    return index;
}

bool FileExists(IFileSystem& fileSystem, const std::string& path) {
    return fileSystem.Exists(path);
}
