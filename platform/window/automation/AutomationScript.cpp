#include "platform/window/automation/AutomationScript.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string WithoutComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1]))) return line.substr(0, i);
    }
    return line;
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

bool ParseNumber(const std::string& text, long* value) {
    if (text.empty()) return false;
    errno = 0;
    const char* begin = text.c_str();
    char* end = nullptr;
    *value = std::strtol(begin, &end, 10);
    // The whole word is the number: a NUL inside it must not end the text early, and a word
    // that holds no digits is not 0.
    const bool whole = end != begin && end == begin + text.size();
    // Every number in a script is an int: an answer, a position, a state or a tag.
    return errno == 0 && whole && *value >= INT_MIN && *value <= INT_MAX;
}

// Blanks are spaces, tabs and a carriage return; any other control character (a NUL, a
// vertical tab, a form feed, ...) makes the line unreadable rather than splitting words in a
// way that differs from what the line shows.
bool HoldsControlCharacter(const std::string& line) {
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte == 0x7f) && !IsBlank(c)) return true;
    }
    return false;
}

bool IsControlName(const std::string& name) {
    if (name.rfind("tag:", 0) != 0) return true;
    long tag = 0;
    return ParseNumber(name.substr(4), &tag);
}

bool IsButtonName(const std::string& name) {
    for (const char* known : {"default", "erase", "write", "ok", "cancel"}) {
        if (name == known) return true;
    }
    return false;
}

// Fills the step from the line's words; false when they do not form a step.
bool ParseWords(const std::string& text, const std::vector<std::string>& words, ScriptStep* step) {
    using Kind = ScriptStep::Kind;
    if (words.empty()) return false;
    const std::string& verb = words[0];
    size_t n = words.size();
    if (verb == "answer" && n == 2) {
        step->kind = Kind::answer;
        return ParseNumber(words[1], &step->number);
    }
    if (verb == "choose" && n >= 2) {
        step->kind = Kind::choose;
        step->name = Trimmed(text.substr(text.find("choose") + 6));
        return true;
    }
    if (verb == "choose-cancel" && n == 1) {
        step->kind = Kind::chooseCancel;
        return true;
    }
    if (verb == "press" && n == 2) {
        step->kind = Kind::press;
        step->name = words[1];
        return IsButtonName(step->name);
    }
    if ((verb == "select" || verb == "set") && n == 3) {
        step->kind = verb == "select" ? Kind::select : Kind::set;
        step->name = words[1];
        return IsControlName(step->name) && ParseNumber(words[2], &step->number);
    }
    if ((verb == "close" || verb == "dump") && n == 1) {
        step->kind = verb == "close" ? Kind::close : Kind::dump;
        return true;
    }
    return false;
}

}  // namespace

std::optional<AutomationScript> AutomationScript::parse(const std::string& text,
                                                        std::string* error) {
    AutomationScript script;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string line = Trimmed(WithoutComment(raw));
        if (line.empty()) continue;
        if (HoldsControlCharacter(line)) {
            *error =
                "line " + std::to_string(lineNumber) + ": not a step: holds a control character";
            return std::nullopt;
        }
        ScriptStep step{ScriptStep::Kind::dump, lineNumber, line, {}, 0};
        if (!ParseWords(line, Words(line), &step)) {
            *error = "line " + std::to_string(lineNumber) + ": not a step: " + line;
            return std::nullopt;
        }
        script.steps_.push_back(step);
    }
    return script;
}
