#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "doctor/file_tail.h"

namespace {

const char* Kind(mode_t mode) {
    return S_ISFIFO(mode)                   ? "a fifo"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
           : S_ISDIR(mode)                  ? "a directory"
           : S_ISSOCK(mode)                 ? "a socket"
                                            : "not a regular file";
}

}  // namespace

FileTail ReadFileTail(const std::filesystem::path& path, std::size_t maxBytes) {
    FileTail tail;
    // O_NONBLOCK: a fifo opens at once instead of waiting for a writer. What is judged is
    // what was opened, so a file swapped for a link to a device after a look cannot fool it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return tail;
    }
    struct stat facts {};
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        tail.outcome = FileTail::Outcome::NotAFile;
        tail.what = Kind(facts.st_mode);
        ::close(fd);
        return tail;
    }
    auto size = static_cast<std::size_t>(std::max<off_t>(facts.st_size, 0));
    std::size_t from = size > maxBytes ? size - maxBytes : 0;
    tail.bytes.resize(size - from);
    std::size_t got = 0;
    while (got < tail.bytes.size()) {
        ssize_t part = ::pread(fd, tail.bytes.data() + got, tail.bytes.size() - got,
                               static_cast<off_t>(from + got));
        if (part <= 0) {
            break;  // cut shorter while it was read
        }
        got += static_cast<std::size_t>(part);
    }
    tail.bytes.resize(got);
    tail.cut = from > 0 && got > 0;  // a file emptied while it was read is no longer cut
    tail.outcome = FileTail::Outcome::Read;
    ::close(fd);
    return tail;
}
