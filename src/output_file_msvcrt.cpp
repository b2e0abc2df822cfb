#include "output_file.h"

#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <sys/stat.h>

int OutputFileOpen(const char *path) {
    // Binary: the texts reach the file byte for byte, no CR before LF.
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool OutputFileWrite(int file, const char *bytes, std::size_t length) {
    // _write takes an unsigned count but reports it as an int.
    while (length > 0) {
        const unsigned chunk = length < INT_MAX ? static_cast<unsigned>(length) : INT_MAX;
        const int written = _write(file, bytes, chunk);
        if (written <= 0) // -1 is failure; 0 would be no progress
            return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputFileClose(int file) { _close(file); }
