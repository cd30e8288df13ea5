#include "settings/OptionData.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Utf8.h"
#include "settings/ByteFields.h"
#include "settings/Folders.h"

namespace vistamo {

namespace {

constexpr mode_t kFileMode = S_IRUSR | S_IWUSR;

std::optional<std::filesystem::path> appFile(const char* name) {
    const auto library = libraryFolder();
    if (!library) {
        return std::nullopt;
    }
    return *library / kAppFolderName / name;
}

void setEmptyRecordDefaults(AlarmOptions& options) {
    options.bEnableActive = true;
    options.activeProgram = kDefaultActiveProgram;
    options.bEnableTerminate = false;
    options.terminateProgram.clear();
    options.bEnableSound = true;
    options.bOnceAlarm = true;
    options.bEnableRun = false;
    options.runProgram.clear();
    options.picID = 0;
    options.bHit = true;
}

// Reads a record into `options`; false at the first field that does not lie wholly inside the
// data or does not decode, leaving `options` partly changed.
bool readRecord(AlarmOptions& options, ByteView data, std::string& fault) {
    auto text = [&](size_t at, std::string& into, size_t& position, const char* field) {
        Error error;
        auto decoded = getString(data, at, &error);
        if (!decoded) {
            fault = std::string(field) + ": " + error.description;
            return false;
        }
        into = std::move(decoded->text);
        position = at + decoded->consumed;
        return true;
    };
    auto flag = [&](size_t at, bool& into, const char* field) {
        const auto value = getBool(data, at);
        if (!value) {
            fault = std::string(field) + " is missing";
            return false;
        }
        into = *value;
        return true;
    };

    size_t p = 0;
    if (!flag(0, options.bEnableActive, "bEnableActive") ||
        !text(1, options.activeProgram, p, "activeProgram") ||
        !flag(p, options.bEnableTerminate, "bEnableTerminate") ||
        !text(p + 1, options.terminateProgram, p, "terminateProgram") ||
        !flag(p, options.bEnableSound, "bEnableSound") ||
        !flag(p + 1, options.bOnceAlarm, "bOnceAlarm")) {
        return false;
    }
    p += 2;
    if (p >= data.size()) {
        // Written before the run option existed; runProgram keeps what it held.
        options.bEnableRun = false;
        options.picID = 0;
        options.bHit = true;
        return true;
    }
    if (!flag(p, options.bEnableRun, "bEnableRun") ||
        !text(p + 1, options.runProgram, p, "runProgram")) {
        return false;
    }
    if (p >= data.size()) {
        options.picID = 0;
        options.bHit = true;
        return true;
    }
    const auto picID = getInt(data, p);
    if (!picID) {
        fault = "picID is cut short";
        return false;
    }
    options.picID = *picID;
    if (p + 4 >= data.size()) {
        options.bHit = true;
        return true;
    }
    options.bHit = data[p + 4] != 0;
    if (p + 5 >= data.size()) {
        options.bHit = true;
        return true;
    }
    std::string storedVersion;
    size_t end = 0;
    if (!text(p + 5, storedVersion, end, "mVersion")) {
        return false;
    }
    // The notice shows again after every change of version.
    if (storedVersion != options.version) {
        options.bHit = true;
    }
    return true;
}

// The file's bytes; none when it does not exist. A file that exists but cannot be read is
// logged and reads as empty.
Bytes readAppFile(const char* name) {
    const auto path = appFile(name);
    if (!path) {
        return {};
    }
    std::error_code ignored;
    if (!std::filesystem::exists(*path, ignored)) {
        return {};
    }
    Error error;
    auto data = readWholeFile(*path, kMaxOptionsFileBytes, &error);
    if (!data) {
        logLine(std::string("ignoring ") + name + ": " + error.reason + ": " + error.description);
        return {};
    }
    return std::move(*data);
}

bool writeAppFile(const char* name, ByteView data) {
    const auto path = appFile(name);
    if (!path) {
        logLine(std::string(name) + " not saved: no Library folder");
        return false;
    }
    Error error;
    if (!writeFileAtomically(*path, data, kFileMode, &error)) {
        logLine(std::string(name) + " not saved: " + error.reason + ": " + error.description);
        return false;
    }
    return true;
}

std::string readTextFile(const char* name) {
    Bytes data = readAppFile(name);
    std::string text = textOf(data);
    if (!isValidUtf8(text)) {
        logLine(std::string("ignoring ") + name + ": not UTF-8 text");
        return {};
    }
    return text;
}

}  // namespace

std::string currentVersionText() {
    return std::string("V.") + VISTAMO_VERSION + " (build" + VISTAMO_BUILD;
}

std::string readableVersionText() {
    return std::string(VISTAMO_VERSION) + " (build " + VISTAMO_BUILD + ")";
}

Bytes setOptionData(const AlarmOptions& options) {
    Bytes data;
    appendBool(data, options.bEnableActive);
    appendString(data, options.activeProgram);
    appendBool(data, options.bEnableTerminate);
    appendString(data, options.terminateProgram);
    appendBool(data, options.bEnableSound);
    appendBool(data, options.bOnceAlarm);
    appendBool(data, options.bEnableRun);
    appendString(data, options.runProgram);
    appendInt(data, options.picID);
    appendBool(data, options.bHit);
    appendString(data, options.version);
    return data;
}

void readOptionRecord(AlarmOptions& options, ByteView data) {
    if (data.empty()) {
        setEmptyRecordDefaults(options);
        return;
    }
    // Read into a copy so that a malformed record leaves no half-applied fields behind.
    AlarmOptions read = options;
    std::string fault;
    if (readRecord(read, data, fault)) {
        options = std::move(read);
        return;
    }
    logLine("options file is malformed (" + fault + "); using the default options");
    setEmptyRecordDefaults(options);
}

Bytes loadOptions() { return readAppFile(kOptionsFileName); }

bool saveOptionRecord(ByteView data) {
    // What an in-place write leaves: the new bytes, then whatever an older, longer file held
    // beyond them.
    Bytes contents(data.begin(), data.end());
    const Bytes older = readAppFile(kOptionsFileName);
    if (older.size() > contents.size()) {
        contents.insert(contents.end(), older.begin() + static_cast<ptrdiff_t>(contents.size()),
                        older.end());
    }
    return writeAppFile(kOptionsFileName, contents);
}

bool savePasswordRecord(ByteView data) {
    Bytes contents = readAppFile(kOptionsFileName);
    contents.insert(contents.end(), data.begin(), data.end());
    return writeAppFile(kOptionsFileName, contents);
}

bool saveActiveProgram(const std::string& text) {
    return writeAppFile(kActiveProgramFileName, bytesOf(text));
}

std::string getActiveProgram() { return readTextFile(kActiveProgramFileName); }

bool saveTerminatePrograms(const std::string& text) {
    return writeAppFile(kTerminateProgramsFileName, bytesOf(text));
}

std::string getTerminatePrograms() { return readTextFile(kTerminateProgramsFileName); }

void loadOrCreateOptions(AlarmOptions& options) {
    if (isExisted(kAppFolderName) != ExistedState::IT_IS_NONE) {
        readOptionRecord(options, loadOptions());
        return;
    }
    options.bEnableSound = true;
    options.bEnableActive = true;
    options.bEnableTerminate = false;
    options.activeProgram = kDefaultActiveProgram;
    options.terminateProgram.clear();
    options.picID = 0;
    // A Linux home need not have its Library folder yet (a fresh account); the app folder is
    // still made without intermediate folders below it.
    if (const auto library = libraryFolder()) {
        std::error_code ignored;
        std::filesystem::create_directories(*library, ignored);
    }
    if (createSubFolder(kAppFolderName, false)) {
        saveOptionRecord(setOptionData(options));
    }
}

}  // namespace vistamo
