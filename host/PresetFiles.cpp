#include "host/PresetFiles.h"

#include "host/OutputFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kovalith {
namespace host {

namespace {

constexpr int32_t kChunkMagic = vst2::fourCC('C', 'c', 'n', 'K');
constexpr int32_t kProgramParams = vst2::fourCC('F', 'x', 'C', 'k');
constexpr int32_t kProgramChunk = vst2::fourCC('F', 'P', 'C', 'h');
constexpr int32_t kBankParams = vst2::fourCC('F', 'x', 'B', 'k');
constexpr int32_t kBankChunk = vst2::fourCC('F', 'B', 'C', 'h');

// 'CcnK', byteSize, fxMagic, version, fxID, fxVersion, numParams, prgName.
constexpr size_t kProgramHeaderSize = 28 + kFxProgramNameSize;
// 'CcnK', byteSize, fxMagic, version, fxID, fxVersion, numPrograms, then
// currentProgram + future[124] (version 2) or future[128] (version 1).
constexpr size_t kBankHeaderSize = 28 + 128;
// Preset files are small; anything larger is refused before it is read.
constexpr size_t kMaxFileSize = 64u << 20;

void setError(std::string* error, const std::string& message) {
    if (error) *error = message;
}

class BigEndianWriter {
public:
    void u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void f32(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void raw(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    void name(const std::string& text) {
        uint8_t field[kFxProgramNameSize] = {};
        std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
        raw(field, sizeof field);
    }
    // Writes byteSize (everything after the first eight bytes) at `start + 4`.
    void patchByteSize(size_t start) {
        const auto size = static_cast<uint32_t>(bytes_.size() - start - 8);
        for (int i = 0; i < 4; ++i) bytes_[start + 4 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// Reads within [pos, end); every read checks the bounds first.
class BigEndianReader {
public:
    BigEndianReader(const uint8_t* data, size_t size) : data_(data), end_(size) {}

    size_t remaining() const { return end_ - pos_; }
    size_t position() const { return pos_; }

    bool i32(int32_t& v) {
        if (remaining() < 4) return false;
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u = (u << 8) | data_[pos_ + i];
        pos_ += 4;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool f32(float& v) {
        int32_t bits = 0;
        if (!i32(bits)) return false;
        std::memcpy(&v, &bits, sizeof v);
        return true;
    }
    bool bytes(size_t count, std::vector<uint8_t>& out) {
        if (remaining() < count) return false;
        out.assign(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return true;
    }
    bool name(std::string& out) {
        if (remaining() < kFxProgramNameSize) return false;
        const char* text = reinterpret_cast<const char*>(data_ + pos_);
        out.assign(text, strnlen(text, kFxProgramNameSize));
        pos_ += kFxProgramNameSize;
        return true;
    }
    bool skip(size_t count) {
        if (remaining() < count) return false;
        pos_ += count;
        return true;
    }
    // A reader over the next `count` bytes, which this one then skips.
    BigEndianReader sub(size_t count) {
        BigEndianReader inner(data_ + pos_, count);
        pos_ += count;
        return inner;
    }

private:
    const uint8_t* data_;
    size_t pos_ = 0;
    size_t end_;
};

void writeProgram(BigEndianWriter& out, const FxProgram& program) {
    const size_t start = out.size();
    out.i32(kChunkMagic);
    out.i32(0);
    out.i32(program.isChunk ? kProgramChunk : kProgramParams);
    out.i32(1);
    out.i32(program.fxID);
    out.i32(program.fxVersion);
    out.i32(program.isChunk ? program.numParams : static_cast<int32_t>(program.params.size()));
    out.name(program.name);
    if (program.isChunk) {
        out.i32(static_cast<int32_t>(program.chunk.size()));
        out.raw(program.chunk.data(), program.chunk.size());
    } else {
        for (float v : program.params) out.f32(v);
    }
    out.patchByteSize(start);
}

// Reads the 'CcnK' envelope and narrows `in` to the record it declares.
bool readEnvelope(BigEndianReader& in, BigEndianReader& record, int32_t& fxMagic, size_t headerSize,
                  const char* what, std::string* error) {
    int32_t magic = 0, byteSize = 0;
    if (!in.i32(magic) || !in.i32(byteSize)) {
        setError(error, std::string("the ") + what + " is truncated (no header)");
        return false;
    }
    if (magic != kChunkMagic) {
        setError(error, std::string("the ") + what + " does not start with 'CcnK'");
        return false;
    }
    if (byteSize < 0 || static_cast<size_t>(byteSize) > in.remaining()) {
        setError(error, std::string("the ") + what + " declares " + std::to_string(byteSize) +
                            " bytes but only " + std::to_string(in.remaining()) + " follow");
        return false;
    }
    if (static_cast<size_t>(byteSize) + 8 < headerSize) {
        setError(error, std::string("the ") + what + " is shorter than its header");
        return false;
    }
    record = in.sub(static_cast<size_t>(byteSize));
    return record.i32(fxMagic);
}

bool readProgram(BigEndianReader& in, FxProgram& program, std::string* error) {
    BigEndianReader record(nullptr, 0);
    int32_t fxMagic = 0, version = 0;
    if (!readEnvelope(in, record, fxMagic, kProgramHeaderSize, "program", error)) return false;
    if (fxMagic != kProgramParams && fxMagic != kProgramChunk) {
        setError(error, "the program is neither 'FxCk' nor 'FPCh'");
        return false;
    }
    program.isChunk = fxMagic == kProgramChunk;
    record.i32(version);
    record.i32(program.fxID);
    record.i32(program.fxVersion);
    record.i32(program.numParams);
    record.name(program.name);
    if (version < 1 || version > 2) {
        setError(error, "the program has an unknown format version " + std::to_string(version));
        return false;
    }
    if (program.isChunk) {
        int32_t size = 0;
        if (!record.i32(size) || size < 0 || static_cast<size_t>(size) > record.remaining()) {
            setError(error, "the program chunk's declared size does not fit the record");
            return false;
        }
        record.bytes(static_cast<size_t>(size), program.chunk);
        return true;
    }
    if (program.numParams < 0 || static_cast<size_t>(program.numParams) > record.remaining() / 4) {
        setError(error, "the program declares " + std::to_string(program.numParams) +
                            " parameters, more than the record holds");
        return false;
    }
    program.params.resize(static_cast<size_t>(program.numParams));
    for (size_t i = 0; i < program.params.size(); ++i) {
        record.f32(program.params[i]);
        // A NaN or infinity would be handed straight into the plug-in's recursions.
        if (!std::isfinite(program.params[i])) {
            setError(error, "parameter " + std::to_string(i) + " of the program is not a finite number");
            return false;
        }
    }
    return true;
}

bool readBankHeader(BigEndianReader& record, FxBank& bank, std::string* error) {
    record.i32(bank.version);
    record.i32(bank.fxID);
    record.i32(bank.fxVersion);
    record.i32(bank.numPrograms);
    if (bank.version < 1 || bank.version > 2) {
        setError(error, "the bank has an unknown format version " + std::to_string(bank.version));
        return false;
    }
    if (bank.version >= 2) record.i32(bank.currentProgram);
    record.skip(bank.version >= 2 ? 124 : 128);
    if (bank.numPrograms < 0) {
        setError(error, "the bank declares a negative number of programs");
        return false;
    }
    return true;
}

std::vector<float> parameterValues(PluginInstance& plugin) {
    std::vector<float> values(static_cast<size_t>(std::max(0, plugin.numParams())));
    for (size_t i = 0; i < values.size(); ++i) values[i] = plugin.getParameter(static_cast<int>(i));
    return values;
}

void setParameterValues(PluginInstance& plugin, const std::vector<float>& values) {
    for (size_t i = 0; i < values.size(); ++i) plugin.setParameter(static_cast<int>(i), values[i]);
}

bool checkIdentity(PluginInstance& plugin, int32_t fxID, const char* what, std::string* error) {
    if (fxID == plugin.uniqueID()) return true;
    setError(error, std::string("the ") + what + " belongs to plug-in '" + fourCharCode(fxID) + "', not '" +
                        fourCharCode(plugin.uniqueID()) + "'");
    return false;
}

// Applies a program record to the plug-in's current program.
bool applyProgramRecord(PluginInstance& plugin, const FxProgram& program, std::string* error) {
    if (program.isChunk) {
        if (!plugin.hasChunks()) {
            setError(error, "the preset holds a chunk, but the plug-in keeps no program chunks");
            return false;
        }
        if (!plugin.setChunk(program.chunk, true)) {
            setError(error, "the plug-in refused the program chunk");
            return false;
        }
        return true;
    }
    if (program.params.size() > static_cast<size_t>(std::max(0, plugin.numParams()))) {
        setError(error, "the preset has " + std::to_string(program.params.size()) +
                            " parameters, the plug-in only " + std::to_string(plugin.numParams()));
        return false;
    }
    setParameterValues(plugin, program.params);
    plugin.setCurrentProgramName(program.name);
    return true;
}

bool hasExtension(const std::string& path, const char* extension) {
    const size_t n = std::strlen(extension);
    if (path.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != extension[i]) return false;
    return true;
}

}  // namespace

std::string fourCharCode(int32_t id) {
    std::string text(4, '.');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(static_cast<uint32_t>(id) >> (24 - 8 * i));
        if (std::isprint(c)) text[static_cast<size_t>(i)] = static_cast<char>(c);
    }
    return text;
}

std::vector<uint8_t> serializeFxp(const FxProgram& program) {
    BigEndianWriter out;
    writeProgram(out, program);
    return out.take();
}

std::vector<uint8_t> serializeFxb(const FxBank& bank) {
    BigEndianWriter out;
    out.i32(kChunkMagic);
    out.i32(0);
    out.i32(bank.isChunk ? kBankChunk : kBankParams);
    out.i32(2);
    out.i32(bank.fxID);
    out.i32(bank.fxVersion);
    out.i32(bank.isChunk ? bank.numPrograms : static_cast<int32_t>(bank.programs.size()));
    out.i32(bank.currentProgram);
    const uint8_t future[124] = {};
    out.raw(future, sizeof future);
    if (bank.isChunk) {
        out.i32(static_cast<int32_t>(bank.chunk.size()));
        out.raw(bank.chunk.data(), bank.chunk.size());
    } else {
        for (const FxProgram& program : bank.programs) writeProgram(out, program);
    }
    out.patchByteSize(0);
    return out.take();
}

std::optional<FxProgram> parseFxp(const std::vector<uint8_t>& bytes, std::string* error) {
    BigEndianReader in(bytes.data(), bytes.size());
    FxProgram program;
    if (!readProgram(in, program, error)) return std::nullopt;
    return program;
}

std::optional<FxBank> parseFxb(const std::vector<uint8_t>& bytes, std::string* error) {
    BigEndianReader in(bytes.data(), bytes.size());
    BigEndianReader record(nullptr, 0);
    int32_t fxMagic = 0;
    if (!readEnvelope(in, record, fxMagic, kBankHeaderSize, "bank", error)) return std::nullopt;
    if (fxMagic != kBankParams && fxMagic != kBankChunk) {
        setError(error, "the bank is neither 'FxBk' nor 'FBCh'");
        return std::nullopt;
    }
    FxBank bank;
    bank.isChunk = fxMagic == kBankChunk;
    if (!readBankHeader(record, bank, error)) return std::nullopt;
    if (bank.isChunk) {
        int32_t size = 0;
        if (!record.i32(size) || size < 0 || static_cast<size_t>(size) > record.remaining()) {
            setError(error, "the bank chunk's declared size does not fit the file");
            return std::nullopt;
        }
        record.bytes(static_cast<size_t>(size), bank.chunk);
        return bank;
    }
    if (static_cast<size_t>(bank.numPrograms) > record.remaining() / kProgramHeaderSize) {
        setError(error, "the bank declares " + std::to_string(bank.numPrograms) +
                            " programs, more than the file holds");
        return std::nullopt;
    }
    bank.programs.resize(static_cast<size_t>(bank.numPrograms));
    for (size_t p = 0; p < bank.programs.size(); ++p) {
        std::string why;
        if (!readProgram(record, bank.programs[p], &why)) {
            setError(error, "program " + std::to_string(p) + " of the bank: " + why);
            return std::nullopt;
        }
    }
    return bank;
}

std::optional<FxProgram> captureProgram(PluginInstance& plugin, std::string* error) {
    FxProgram program;
    program.fxID = plugin.uniqueID();
    program.fxVersion = plugin.version();
    program.numParams = plugin.numParams();
    program.name = plugin.currentProgramName();
    program.isChunk = plugin.hasChunks();
    if (program.isChunk) {
        program.chunk = plugin.getChunk(true);
        if (program.chunk.empty()) {
            setError(error, "the plug-in gave no program chunk");
            return std::nullopt;
        }
    } else {
        program.params = parameterValues(plugin);
    }
    return program;
}

std::optional<FxBank> captureBank(PluginInstance& plugin, std::string* error) {
    FxBank bank;
    bank.fxID = plugin.uniqueID();
    bank.fxVersion = plugin.version();
    bank.numPrograms = plugin.numPrograms();
    bank.currentProgram = plugin.currentProgram();
    bank.isChunk = plugin.hasChunks();
    if (bank.isChunk) {
        bank.chunk = plugin.getChunk(false);
        if (bank.chunk.empty()) {
            setError(error, "the plug-in gave no bank chunk");
            return std::nullopt;
        }
        return bank;
    }
    // Walk the programs and come back with the current edits intact.
    const std::vector<float> current = parameterValues(plugin);
    for (int p = 0; p < bank.numPrograms; ++p) {
        plugin.setProgram(p);
        FxProgram program;
        program.fxID = bank.fxID;
        program.fxVersion = bank.fxVersion;
        program.numParams = plugin.numParams();
        program.name = plugin.currentProgramName();
        program.params = parameterValues(plugin);
        bank.programs.push_back(std::move(program));
    }
    plugin.setProgram(bank.currentProgram);
    setParameterValues(plugin, current);
    return bank;
}

bool applyProgram(PluginInstance& plugin, const FxProgram& program, std::string* error) {
    return checkIdentity(plugin, program.fxID, "program", error) && applyProgramRecord(plugin, program, error);
}

bool applyBank(PluginInstance& plugin, const FxBank& bank, std::string* error) {
    if (!checkIdentity(plugin, bank.fxID, "bank", error)) return false;
    const bool knownCurrent = bank.version >= 2 && bank.currentProgram >= 0 &&
                              bank.currentProgram < plugin.numPrograms();
    if (bank.isChunk) {
        if (!plugin.hasChunks()) {
            setError(error, "the bank holds a chunk, but the plug-in keeps no program chunks");
            return false;
        }
        if (!plugin.setChunk(bank.chunk, false)) {
            setError(error, "the plug-in refused the bank chunk");
            return false;
        }
        if (knownCurrent) plugin.setProgram(bank.currentProgram);
        return true;
    }
    if (bank.programs.size() > static_cast<size_t>(std::max(0, plugin.numPrograms()))) {
        setError(error, "the bank has " + std::to_string(bank.programs.size()) + " programs, the plug-in only " +
                            std::to_string(plugin.numPrograms()));
        return false;
    }
    for (size_t p = 0; p < bank.programs.size(); ++p) {
        plugin.setProgram(static_cast<int>(p));
        std::string why;
        if (!applyProgramRecord(plugin, bank.programs[p], &why)) {
            setError(error, "program " + std::to_string(p) + " of the bank: " + why);
            return false;
        }
    }
    // Leaving the last program written would also be legal; the bank says which one was in use.
    plugin.setProgram(knownCurrent ? bank.currentProgram : 0);
    return true;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string* error) {
    std::ifstream file;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        setError(error, "cannot read '" + path + "': it is a folder");
        return false;
    }
    errno = 0;
    file.open(path, std::ios::binary | std::ios::ate);
    if (!file) {
        setError(error, "cannot read '" + path + "': " + systemMessage(errno != 0 ? errno : EIO));
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxFileSize) {
        setError(error, path + " is not a preset file (too large or unreadable)");
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        setError(error, "cannot read '" + path + "'");
        return false;
    }
    return true;
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    OutputFile file;
    if (!file.open(path, error)) return false;
    file.write(bytes.data(), bytes.size());
    return file.commit(error);
}

bool isPresetFileName(const std::string& path) { return hasExtension(path, ".fxb") || hasExtension(path, ".fxp"); }

bool presetFileBytes(PluginInstance& plugin, const std::string& path, std::vector<uint8_t>& bytes,
                     std::string* error) {
    if (hasExtension(path, ".fxb")) {
        const std::optional<FxBank> bank = captureBank(plugin, error);
        if (bank) bytes = serializeFxb(*bank);
        return bank.has_value();
    }
    if (hasExtension(path, ".fxp")) {
        const std::optional<FxProgram> program = captureProgram(plugin, error);
        if (program) bytes = serializeFxp(*program);
        return program.has_value();
    }
    setError(error, path + ": preset files end in .fxp or .fxb");
    return false;
}

bool savePresetFile(PluginInstance& plugin, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    return presetFileBytes(plugin, path, bytes, error) && writeFileBytes(path, bytes, error);
}

bool loadPresetFile(PluginInstance& plugin, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, error)) return false;
    std::string why;
    bool ok = false;
    // The kind is in the record itself (bytes 8 to 11); the extension is only a hint.
    const bool isBank = bytes.size() >= 12 && (std::memcmp(&bytes[8], "FxBk", 4) == 0 ||
                                               std::memcmp(&bytes[8], "FBCh", 4) == 0);
    if (isBank) {
        const std::optional<FxBank> bank = parseFxb(bytes, &why);
        ok = bank && applyBank(plugin, *bank, &why);
    } else {
        const std::optional<FxProgram> program = parseFxp(bytes, &why);
        ok = program && applyProgram(plugin, *program, &why);
    }
    if (!ok) setError(error, path + ": " + why);
    return ok;
}

}  // namespace host
}  // namespace kovalith
