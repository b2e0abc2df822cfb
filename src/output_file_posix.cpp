#include "output_file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

int OutputFileOpen(const char *path) {
    // Close-on-exec: a child that another thread of the host starts must not
    // inherit the descriptor.
    return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool OutputFileWrite(int file, const char *bytes, std::size_t length) {
    // One write per text on the plain path; the loop only runs again when
    // the system took less than it was given.
    while (length > 0) {
        const std::size_t chunk = length < SSIZE_MAX ? length : SSIZE_MAX;
        const ssize_t written = write(file, bytes, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) // no progress and no error: do not spin
            return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputFileClose(int file) { close(file); }
