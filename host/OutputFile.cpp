#include "host/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <vector>
#endif

namespace kovalith {
namespace host {

namespace {

void setError(std::string* error, const std::string& message) {
    if (error) *error = message;
}

}  // namespace

std::string systemMessage(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

void OutputFile::noteFailure(int error) {
    if (failure_ == 0) failure_ = error != 0 ? error : EIO;
}

#ifdef _WIN32

// The Windows test programs write preset files too: the same temporary file
// and replacement, without the cleanup on signals.

bool sameFile(const std::string& a, const std::string& b) {
    char first[MAX_PATH], second[MAX_PATH];
    return _fullpath(first, a.c_str(), MAX_PATH) && _fullpath(second, b.c_str(), MAX_PATH) &&
           _stricmp(first, second) == 0;
}

bool OutputFile::open(const std::string& target, std::string* error) {
    discard();
    target_ = destination_ = target;
    failure_ = 0;
    temporary_ = target + ".kovalith-" + std::to_string(_getpid());
    fd_ = _open(temporary_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd_ < 0) {
        setError(error, "cannot write '" + target + "': " + systemMessage(errno));
        temporary_.clear();
    }
    return fd_ >= 0;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
        const int written = _write(fd_, bytes, static_cast<unsigned>(chunk));
        if (written <= 0) {
            noteFailure(written < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (fd_ < 0) {
        setError(error, "cannot write '" + target_ + "': it was not opened");
        return false;
    }
    if (failure_ == 0 && _commit(fd_) != 0) noteFailure(errno);
    if (_close(fd_) != 0 && failure_ == 0) noteFailure(errno);
    fd_ = -1;
    if (failure_ == 0 && !MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING))
        noteFailure(EACCES);
    if (failure_ != 0) {
        setError(error, "cannot write '" + target_ + "': " + systemMessage(failure_));
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

#else

namespace {

// ---- removal of pending files on a signal -------------------------------------
//
// The handler may only touch what is safe in a signal handler: these fixed
// buffers, unlink, write, sigaction and raise. The records change with the
// signals blocked, so the handler never sees one half written.

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kNumCleanupSignals = sizeof kCleanupSignals / sizeof kCleanupSignals[0];
constexpr int kPendingSlots = 4;

struct PendingName {
    volatile std::sig_atomic_t used;
    char path[PATH_MAX];
};
PendingName gPending[kPendingSlots];
int gPendingCount = 0;
struct sigaction gPreviousActions[kNumCleanupSignals];
bool gHandled[kNumCleanupSignals];

extern "C" void removePendingAndDie(int signal) {
    for (PendingName& name : gPending)
        if (name.used) ::unlink(name.path);
    static const char kMessage[] = "kovalith: interrupted; the unfinished output was removed\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    // End as the signal would have ended us: the caller's shell sees it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : kCleanupSignals) sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

// Signals the caller ignores (nohup, a background job) stay ignored.
void installCleanupHandlers() {
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : kCleanupSignals) sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < kNumCleanupSignals; ++i) {
        sigaction(kCleanupSignals[i], nullptr, &gPreviousActions[i]);
        gHandled[i] = gPreviousActions[i].sa_handler != SIG_IGN;
        if (gHandled[i]) sigaction(kCleanupSignals[i], &action, nullptr);
    }
}

void restoreHandlers() {
    for (int i = 0; i < kNumCleanupSignals; ++i)
        if (gHandled[i]) sigaction(kCleanupSignals[i], &gPreviousActions[i], nullptr);
}

// Records `path` for the handler; -1 when every slot is taken (the file is
// then still removed on failure, but not on a signal).
int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    CleanupSignalsBlocked blocked;
    for (int slot = 0; slot < kPendingSlots; ++slot) {
        if (gPending[slot].used) continue;
        std::memcpy(gPending[slot].path, path.c_str(), path.size() + 1);
        gPending[slot].used = 1;
        if (gPendingCount++ == 0) installCleanupHandlers();
        return slot;
    }
    return -1;
}

void releaseSlot(int slot) {
    if (slot < 0) return;
    CleanupSignalsBlocked blocked;
    gPending[slot].used = 0;
    if (--gPendingCount == 0) restoreHandlers();
}

// ---- paths -----------------------------------------------------------------------

// The file a rename must replace: a symbolic link's target, so the link stays.
std::string destinationOf(const std::string& target) {
    struct stat link {};
    if (lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return target;
    char resolved[PATH_MAX];
    return realpath(target.c_str(), resolved) ? std::string(resolved) : target;
}

// "DIR/.NAME.XXXXXX" beside `destination`, the name shortened to stay within
// the folder's name length.
std::string temporaryPattern(const std::string& destination) {
    const size_t slash = destination.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
    return folder + "." + name.substr(0, 200) + ".XXXXXX";
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool OutputFile::open(const std::string& target, std::string* error) {
    discard();
    target_ = target;
    failure_ = 0;
    const std::string cannot = "cannot write '" + target + "': ";
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        setError(error, cannot + "it is a folder");
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe is written as it is; there is nothing to replace.
        fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) setError(error, cannot + systemMessage(errno));
        return fd_ >= 0;
    }
    // A file its owner made read-only is not replaced behind their back.
    if (exists && access(target.c_str(), W_OK) != 0) {
        setError(error, cannot + systemMessage(errno));
        return false;
    }
    destination_ = destinationOf(target);
    std::string pattern = temporaryPattern(destination_);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        setError(error, cannot + systemMessage(errno));
        return false;
    }
    temporary_ = name.data();
    slot_ = claimSlot(temporary_);
    // mkostemp makes the file private; give it the mode the target has or would get.
    fchmod(fd_, exists ? (existing.st_mode & 07777) : newFileMode());
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            noteFailure(written < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::commit(std::string* error) {
    if (fd_ < 0) {
        setError(error, "cannot write '" + target_ + "': it was not opened");
        return false;
    }
    // Some file systems report a full disk only when the data is flushed;
    // devices and pipes cannot be flushed (EINVAL) and need not be.
    if (failure_ == 0 && fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) noteFailure(errno);
    if (::close(fd_) != 0 && failure_ == 0) noteFailure(errno);
    fd_ = -1;
    if (failure_ == 0 && !temporary_.empty() && std::rename(temporary_.c_str(), destination_.c_str()) != 0)
        noteFailure(errno);
    if (failure_ != 0) {
        setError(error, "cannot write '" + target_ + "': " + systemMessage(failure_));
        discard();
        return false;
    }
    temporary_.clear();
    releaseSlot(slot_);
    slot_ = -1;
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    releaseSlot(slot_);
    slot_ = -1;
}

#endif

}  // namespace host
}  // namespace kovalith
