#include "output/draft.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string hidden_name_beside(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder_of(path) + "/." + name + ".XXXXXX";
}

// Permissions a plain fopen(path, "w") would have given the file.
mode_t default_file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// An unnamed file in the target's folder, or where the file system has
// none, a named one (fd, or -1 with errno set).
int open_unnamed_or_named(Draft& draft)
{
    const int fd = open(folder_of(draft.path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    draft.temp = hidden_name_beside(draft.path);
    const int named = mkstemp(draft.temp.data());
    if (named < 0) {
        draft.temp.clear();
        return -1;
    }
    fchmod(named, default_file_mode());
    return named;
}

// Gives the unnamed draft a hidden name beside the target (0 or errno).
int name_draft(Draft& draft)
{
    std::string name = hidden_name_beside(draft.path);
    const int placeholder = mkstemp(name.data());
    if (placeholder < 0) return errno;
    close(placeholder);
    unlink(name.c_str());
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(draft.file));
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) return errno;
    draft.temp = name;
    return 0;
}

// Writes and syncs what is buffered; 0 or errno.
int settle(Draft& draft)
{
    if (std::fflush(draft.file) != 0) return errno != 0 ? errno : EIO;
    if (!draft.in_place && fsync(fileno(draft.file)) != 0) return errno;
    return 0;
}

}  // namespace

int draft_open(Draft& draft, const char* path)
{
    draft = Draft{};
    draft.path = path;
    struct stat info;
    if (draft.path == STANDARD_OUTPUT) {
        draft.in_place = true;
        const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        draft.file = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (draft.file == nullptr && fd >= 0) close(fd);
        return draft.file == nullptr ? errno : 0;
    }
    draft.in_place = stat(path, &info) == 0 && !S_ISREG(info.st_mode);
    if (draft.in_place) {
        draft.file = std::fopen(path, "wb");
        return draft.file == nullptr ? errno : 0;
    }
    const int fd = open_unnamed_or_named(draft);
    if (fd < 0) return errno;
    draft.file = fdopen(fd, "w+b");
    if (draft.file != nullptr) return 0;
    const int error = errno;
    close(fd);
    if (!draft.temp.empty()) unlink(draft.temp.c_str());
    return error;
}

int draft_ready(Draft& draft, bool ok)
{
    const int failed_with = errno;  // why the writes failed, when they did
    errno = 0;
    int error = ok ? settle(draft) : (failed_with != 0 ? failed_with : EIO);
    if (error == 0 && !draft.in_place && draft.temp.empty()) error = name_draft(draft);
    if (error != 0) draft_discard(draft);
    return error;
}

int draft_place(Draft& draft)
{
    int error = 0;
    if (!draft.in_place && std::rename(draft.temp.c_str(), draft.path.c_str()) != 0) {
        error = errno;
        unlink(draft.temp.c_str());
    }
    if (std::fclose(draft.file) != 0 && error == 0) error = errno;
    draft.file = nullptr;
    return error;
}

int draft_commit(Draft& draft, bool ok)
{
    const int error = draft_ready(draft, ok);
    return error != 0 ? error : draft_place(draft);
}

void draft_discard(Draft& draft)
{
    if (draft.file == nullptr) return;
    std::fclose(draft.file);
    if (!draft.temp.empty()) unlink(draft.temp.c_str());
    draft.file = nullptr;
}

int write_file_whole(const char* path, const void* data, size_t size)
{
    Draft draft;
    if (const int error = draft_open(draft, path)) return error;
    errno = 0;
    const bool ok = size == 0 || std::fwrite(data, size, 1, draft.file) == 1;
    return draft_commit(draft, ok);
}

bool same_file(const char* a, const char* b)
{
    struct stat x, y;
    return stat(a, &x) == 0 && stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
