// The seek routine shared by every engine operation.
#include "platform/io/fileio.h"

int64_t my_lseeki64(IFile* file, int64_t distance, SeekOrigin origin) {
    if (file == nullptr) {
        return -1;
    }
    const int64_t position = file->Seek(distance, origin);
    return position < 0 ? -1 : position;
}
