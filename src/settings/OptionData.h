#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Bytes.h"

namespace vistamo {

// The alarm options and the files that keep them. The functions hold no state and may run on
// any thread; two writers of the same file must not run at once (the application writes from
// the main thread only).

// Files of the app folder (in the Library folder) that hold the alarm options.
inline constexpr const char* kOptionsFileName = ".config";
inline constexpr const char* kActiveProgramFileName = "filename.txt";
inline constexpr const char* kTerminateProgramsFileName = "terminate";

// The largest options or program-name file that is read; a larger one reads as missing.
inline constexpr size_t kMaxOptionsFileBytes = 1024 * 1024;

// The active program used when there are no stored options (first start, an empty or
// malformed record).
inline constexpr const char* kDefaultActiveProgram = "Safari";

// The running program's version as the options record stores it: "V.<version> (build<build>".
// The closing parenthesis is missing on purpose: records written by earlier versions hold the
// text in this shape, and the reader compares the whole text.
std::string currentVersionText();

// The running program's version for people to read: "<version> (build <build>)".
std::string readableVersionText();

// The alarm actions and the few other settings kept in the options file. The values here are
// those the scanner starts with, before any file is read.
struct AlarmOptions {
    // Bring `activeProgram` (a running application's name) to the front on alarm.
    bool bEnableActive = true;
    std::string activeProgram;
    // Terminate the running application named `terminateProgram` on alarm.
    bool bEnableTerminate = false;
    std::string terminateProgram;
    // Play the alarm sound on alarm.
    bool bEnableSound = false;
    // The alarm after one that fired switches the camera's motion guard off instead of
    // re-arming.
    bool bOnceAlarm = true;
    // Launch `runProgram` (with or without a ".app" suffix) on alarm.
    bool bEnableRun = false;
    std::string runProgram;
    // Snapshot counter; the session wraps it to 0 at 10000, so it fits the record's 32 bits.
    int64_t picID = 0;
    // Show the "picture saved" notice after a snapshot.
    bool bHit = true;
    // Version of the running program; stored in the record, never taken from it.
    std::string version = currentVersionText();
};

// The options record, fields one after another without padding (big-endian integers, one-byte
// booleans, texts as a 4-byte byte count and UTF-8 bytes):
//   bEnableActive, activeProgram, bEnableTerminate, terminateProgram, bEnableSound,
//   bOnceAlarm, bEnableRun, runProgram, picID (4 bytes), bHit, version.
Bytes setOptionData(const AlarmOptions& options);

// Applies a record to `options`:
// - an empty record gives the defaults: active "Safari" on, terminate off and "", sound on,
//   once-alarm on, run off and "", picID 0, bHit true;
// - the fields from bEnableRun on are optional: a record that ends after bOnceAlarm leaves
//   runProgram as it was and gives run off, picID 0, bHit true; one that ends after
//   runProgram gives picID 0, bHit true;
// - bHit is kept only when the record also holds a version text equal to `options.version`;
//   otherwise it becomes true, so the notice shows again after every change of version;
// - bytes after the version text are ignored.
// A malformed record (a text that is not UTF-8, a length or field running past the end, a cut
// picID or version field) is logged and gives the defaults of the empty record. version is
// never changed. Any bytes are safe.
void readOptionRecord(AlarmOptions& options, ByteView data);

// The contents of the options file; empty when it is missing, unreadable, not a regular file,
// larger than kMaxOptionsFileBytes, or when there is no Library folder.
Bytes loadOptions();

// Writes `data` over the start of the options file; an older, longer file keeps its surplus
// tail (the reader ignores it), so the result is byte for byte what an in-place write gives.
// The file is replaced atomically (readable and writable by its owner only). The app folder
// is not created here. False, with a log line, when the file cannot be written.
bool saveOptionRecord(ByteView data);

// Appends `data` to the options file (creating it), atomically. False, with a log line, when
// the file cannot be written.
bool savePasswordRecord(ByteView data);

// The program-name files: one UTF-8 text each, replaced atomically. The getters give "" when
// the file is missing, unreadable or not UTF-8.
bool saveActiveProgram(const std::string& text);
std::string getActiveProgram();
bool saveTerminatePrograms(const std::string& text);
std::string getTerminatePrograms();

// The options at start-up: when the app folder exists, the options file is read and applied
// (readOptionRecord); otherwise this is the first start: sound and active on, terminate
// off, active program "Safari", terminate program "", picID 0; the app folder is created and,
// when that succeeded, the options are written. Main thread.
void loadOrCreateOptions(AlarmOptions& options);

}  // namespace vistamo
