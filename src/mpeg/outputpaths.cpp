// Piece naming and path helpers.
#include "mpeg/outputpaths.h"

#include <cstdio>

namespace {

size_t LastSeparator(std::string_view path) {
    return path.find_last_of("\\/");
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

bool FileExists(IFileSystem& fileSystem, const std::string& path) {
    return fileSystem.Exists(path);
}
