// An automation script: the user's part of a session, one step a line.
//   answer N            the next alert returns N
//   choose PATH         the next open panel returns PATH (the rest of the line)
//   choose-cancel       the next open panel is cancelled
//   press NAME          NAME is default, erase, write, ok or cancel
//   select NAME N       a pop-up list's position (-1: none); NAME is an object name or tag:N
//   set NAME N          a button's state
//   close               the user closes the main window
//   dump                every control's value to the transcript
// A `#` at the start of a line or after a blank starts a comment; blank lines are ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ScriptStep {
    enum class Kind { answer, choose, chooseCancel, press, select, set, close, dump };
    Kind kind;
    int line;          // 1-based line number in the script
    std::string text;  // the line as written, without its comment
    std::string name;  // choose: the path; press, select, set: the control
    long number = 0;   // answer, select, set
    // Whether the step answers a question (an alert or a panel) rather than acting.
    bool answersQuestion() const {
        return kind == Kind::answer || kind == Kind::choose || kind == Kind::chooseCancel;
    }
};

class AutomationScript {
public:
    // The script's steps, or nothing with *error naming the first line that is not a step.
    static std::optional<AutomationScript> parse(const std::string& text, std::string* error);

    bool atEnd() const { return next_ >= steps_.size(); }
    // The next step; only when not atEnd().
    const ScriptStep& take() { return steps_[next_++]; }
    const std::vector<ScriptStep>& steps() const { return steps_; }

private:
    std::vector<ScriptStep> steps_;
    size_t next_ = 0;
};
