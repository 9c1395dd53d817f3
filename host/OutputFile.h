// Files the host writes (audio, preset files, pictures) never replace a good
// file with a bad one.
//
// An OutputFile is written under a temporary name in the target's folder and
// renamed over the target only when it is complete, so a failed write (a full
// disk, a refused format) or an interrupted one leaves the previous file, if
// any, as it was. While one is pending, SIGINT, SIGTERM and SIGHUP remove its
// temporary file before the process ends by the signal.
#pragma once

#include <cstddef>
#include <string>

namespace kovalith {
namespace host {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file beside `target` (or opens `target` itself when
    // it is a device or a pipe, which cannot be replaced). False, with the
    // reason in `error`, when the folder takes no new file.
    bool open(const std::string& target, std::string* error);

    // The descriptor to write to; -1 before open().
    int fd() const { return fd_; }
    const std::string& target() const { return target_; }

    // Writes all of `data`; false, remembering the reason, when the system refuses.
    bool write(const void* data, std::size_t size);
    // Remembers `error` (an errno value) as the first failure, for writers that
    // see the system's answer themselves.
    void noteFailure(int error);
    // The errno of the first failure, 0 while there was none.
    int failure() const { return failure_; }

    // Flushes the data to the disk and puts the file in place of the target.
    // False, with "cannot write 'TARGET': reason" in `error`, when any write
    // failed or the file cannot be completed; the target is then untouched.
    bool commit(std::string* error);
    // Removes the temporary file (the destructor does so unless committed).
    void discard();

private:
    std::string target_;       // as the caller named it, for messages
    std::string destination_;  // the file the rename replaces
    std::string temporary_;    // empty when writing the target directly
    int fd_ = -1;
    int failure_ = 0;
    int slot_ = -1;          // the signal handler's record of temporary_
};

// True when both paths name one existing file (the same device and inode),
// whatever the names, links or symbolic links that lead to it.
bool sameFile(const std::string& a, const std::string& b);

// The system's message for an errno value, starting in lower case as it
// follows a colon in our messages: "no space left on device".
std::string systemMessage(int error);

}  // namespace host
}  // namespace kovalith
