#include "jack/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "effect/KovalithEffect.h"

namespace kovalith {
namespace jack {

namespace {

// 'CcnK', byteSize, 'FBCh', version, fxID, fxVersion, numPrograms,
// currentProgram (version 2) and reserved bytes up to 156, then the chunk's
// size and the chunk. Every number is big-endian.
constexpr std::size_t kBankHeaderSize = 160;
constexpr uint32_t kEffectId = 0x515A564D;  // 'QZVM'
constexpr int32_t kBankFileVersion = 2;
constexpr int32_t kEffectVersion = 1;
// A state or bank file is about 24 KB; anything much larger is not one.
constexpr off_t kMaxFileSize = 1 << 20;

uint32_t readU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void writeU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

bool startsWith(const std::vector<uint8_t>& bytes, std::size_t at, const char* tag) {
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

std::string fourCharText(uint32_t id) {
    std::string text(4, '.');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(id >> (24 - 8 * i));
        if (std::isprint(c)) text[static_cast<std::size_t>(i)] = static_cast<char>(c);
    }
    return text;
}

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileSize;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return ok || fail(error, "cannot read " + path + " (not a regular file of at most 1 MB)");
}

// The bank chunk of a bank file, with its current program (-1: none given).
bool parseBankFile(const std::vector<uint8_t>& bytes, const uint8_t*& chunk, int& currentProgram,
                   std::string* error) {
    if (bytes.size() < kBankHeaderSize) return fail(error, "the bank file is shorter than its header");
    const uint32_t declared = readU32(&bytes[4]);
    if (declared > bytes.size() - 8 || declared + 8 < kBankHeaderSize)
        return fail(error, "the bank file declares " + std::to_string(declared) + " bytes but holds " +
                               std::to_string(bytes.size() - 8));
    if (startsWith(bytes, 8, "FxCk") || startsWith(bytes, 8, "FPCh"))
        return fail(error, "it holds one program (.fxp), not a bank (.fxb)");
    if (!startsWith(bytes, 8, "FBCh")) return fail(error, "it is not a bank of chunks ('FBCh')");
    const uint32_t version = readU32(&bytes[12]);
    if (version != 1 && version != 2) return fail(error, "unknown bank file version " + std::to_string(version));
    const uint32_t id = readU32(&bytes[16]);
    if (id != kEffectId) return fail(error, "the bank belongs to plug-in '" + fourCharText(id) + "'");
    const uint32_t size = readU32(&bytes[156]);
    if (size != sizeof(ProgramBank) || size > declared + 8 - kBankHeaderSize)
        return fail(error, "the bank chunk has " + std::to_string(size) + " bytes, not " +
                               std::to_string(sizeof(ProgramBank)));
    chunk = &bytes[kBankHeaderSize];
    const auto current = static_cast<int32_t>(readU32(&bytes[28]));
    currentProgram = version == 2 && current >= 0 && current < kNumPrograms ? current : -1;
    return true;
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

StateFileKind kindFromName(const std::string& path) {
    const std::size_t n = path.size();
    const bool fxb = n >= 4 && path[n - 4] == '.' && std::tolower(static_cast<unsigned char>(path[n - 3])) == 'f' &&
                     std::tolower(static_cast<unsigned char>(path[n - 2])) == 'x' &&
                     std::tolower(static_cast<unsigned char>(path[n - 1])) == 'b';
    return fxb ? StateFileKind::Bank : StateFileKind::State;
}

bool loadStateFile(KovalithEffect& effect, const std::string& path, StateFileKind& kind, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes, error)) return false;
    if (startsWith(bytes, 0, "CcnK")) {
        const uint8_t* chunk = nullptr;
        int current = -1;
        std::string why;
        if (!parseBankFile(bytes, chunk, current, &why)) return fail(error, path + ": " + why);
        if (effect.setChunk(chunk, static_cast<int32_t>(sizeof(ProgramBank)), false) != 1)
            return fail(error, path + ": the effect refused the bank");
        if (current >= 0) effect.setProgram(current);
        kind = StateFileKind::Bank;
        return true;
    }
    if (!effect.loadState(bytes.data(), bytes.size()))
        return fail(error, path + ": neither a Kovalith bank (.fxb) nor a saved Kovalith state");
    kind = StateFileKind::State;
    return true;
}

std::vector<uint8_t> bankFileImage(const void* chunk, std::size_t size, int currentProgram) {
    std::vector<uint8_t> bytes(kBankHeaderSize + size, 0);
    std::memcpy(&bytes[0], "CcnK", 4);
    writeU32(&bytes[4], static_cast<uint32_t>(bytes.size() - 8));
    std::memcpy(&bytes[8], "FBCh", 4);
    writeU32(&bytes[12], kBankFileVersion);
    writeU32(&bytes[16], kEffectId);
    writeU32(&bytes[20], kEffectVersion);
    writeU32(&bytes[24], kNumPrograms);
    writeU32(&bytes[28], static_cast<uint32_t>(currentProgram));
    writeU32(&bytes[156], static_cast<uint32_t>(size));
    if (size) std::memcpy(&bytes[kBankHeaderSize], chunk, size);
    return bytes;
}

bool saveStateFile(KovalithEffect& effect, const std::string& path, StateFileKind kind, std::string* error) {
    std::vector<uint8_t> bytes;
    if (kind == StateFileKind::Bank) {
        void* chunk = nullptr;
        const int32_t size = effect.getChunk(&chunk, false);
        if (size <= 0 || !chunk) return fail(error, "the effect has no bank to save");
        bytes = bankFileImage(chunk, static_cast<std::size_t>(size), effect.program());
    } else {
        bytes = effect.saveState();
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) return fail(error, "cannot write beside " + path + ": " + std::strerror(errno));
    // Keep the permissions of the file being replaced; a new one gets 0644.
    struct stat old {};
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
    const int savedErrno = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    const std::string reason = std::strerror(ok ? errno : savedErrno);
    ::unlink(temporary.c_str());
    return fail(error, "cannot write " + path + ": " + reason);
}

}  // namespace jack
}  // namespace kovalith
