// The card's configuration as the form shows it, and its JSON document: every setting under a
// readable name with its unit. A document is checked as a whole before any of it is used.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr int kFormTargets = 16;

// What the form's controls show: list positions (-1: nothing selected) and button states.
struct FormValues {
    int hostScsiId = 0;
    int resetRecoveringTime = 0;
    int requestSenseDelay = 0;
    bool burstTransfer = false;
    bool parity = false;
    int terminators = 0;  // the button that is on: automatic, high byte only, on, off
    struct Target {
        int maxRate = 0;
        bool sync = false;
        bool wide = false;
        bool disconnect = false;
        bool operator==(const Target&) const = default;
    };
    std::array<Target, kFormTargets> targets{};
    bool operator==(const FormValues&) const = default;
};

// The export: the form's values, the board version and the whole record in hex, as a file's
// text (ending in a line break).
std::string ConfigurationDocument(const FormValues& form, const std::string& boardVersion,
                                  const std::vector<uint8_t>& record);
// The same JSON without the final line break, to embed (show --json).
std::string ConfigurationJson(const FormValues& form, const std::string& boardVersion,
                              const std::vector<uint8_t>& record);

// A document read back: the form's values, or the first thing wrong, naming the key and the
// value. boardVersion and record may be left out and are not read: they are for reference.
struct ParsedDocument {
    std::optional<FormValues> form;
    std::string error;
};
ParsedDocument ParseConfigurationDocument(const std::string& text);
