// Copies of what the utility replaces on the card, kept in
// ${XDG_STATE_HOME:-$HOME/.local/state}/sc820/backups/ as KIND-YYYYMMDDTHHMMSSZ-HASH.bin (HASH:
// the first 8 hex digits of the content's SHA-256), so that the names sort by time and say what
// they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class BackupOutcome {
    written,      // a new copy is on disk, flushed, under its final name
    alreadyKept,  // the newest copy of this kind holds the same bytes: nothing written
    failed,       // no copy could be made; *detail says why
};

// How many copies of each kind are kept; older ones are removed after a new one is written.
inline constexpr size_t kBackupCopiesKept = 20;

// Keeps a copy of the bytes as the newest of its kind ("flash", "eeprom"). The copy is written
// to a temporary file, flushed, renamed into place and the folder flushed before this returns.
BackupOutcome KeepBackupCopy(const char* kind, const uint8_t* bytes, size_t length,
                             std::string* detail);

// The folder the copies go to.
std::string BackupFolder();
