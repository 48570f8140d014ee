#include "platform/window/automation/Automation.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Foundation.h"
#include "platform/security/CallObserver.h"
#include "platform/window/ExitCleanup.h"
#include "platform/window/Interrupt.h"
#include "platform/window/QtControls.h"

namespace {

std::string ButtonText(const char* label) {
    return label == nullptr ? std::string() : label;
}

// The button that sends the action, e.g. "act_write:" for `press write`.
QAbstractButton* ActionButton(QWidget* window, const std::string& action) {
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->property("action").toString().toStdString() == action) return button;
    }
    return nullptr;
}

std::vector<QWidget*> TaggedWidgets(QWidget* window) {
    std::vector<QWidget*> tagged;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->property("tag").isValid() && widget->window() == window) {
            tagged.push_back(widget);
        }
    }
    std::stable_sort(tagged.begin(), tagged.end(),
                     [](QWidget* a, QWidget* b) { return WidgetTag(a) < WidgetTag(b); });
    return tagged;
}

// Scripts are a few lines; anything far larger, or not a regular file, is not one.
constexpr size_t kMaxScriptSize = 1024 * 1024;

bool ReadScript(const std::string& path, std::string* text) {
    NSData::ReadStatus status = NSData::ReadStatus::ok;
    auto data = NSData::dataWithContentsOfRegularFile(NSString(path), kMaxScriptSize, &status);
    if (!data || status != NSData::ReadStatus::ok) return false;
    text->assign(reinterpret_cast<const char*>(data->bytes()), data->length());
    return true;
}

// The transcript of the scripted run, told when the program gives its rights back: nothing a
// person sees shows it, yet a run that keeps them after closing leaves them to the system.
Transcript* gRightsTranscript = nullptr;

void RecordFreedRights(const AuthorizationCall& call) {
    if (call.operation == "free" && gRightsTranscript != nullptr)
        gRightsTranscript->writeLine({"rights-freed", std::to_string(call.status)});
}

}  // namespace

void Automation::ExitProcess(int status) {
    ExitProgram(status);
}

Automation::Automation(AutomationScript script, std::unique_ptr<Transcript> transcript, Exit exit)
    : script_(std::move(script)), transcript_(std::move(transcript)), exit_(std::move(exit)) {}

std::unique_ptr<Automation> Automation::fromEnvironment() {
    const char* path = std::getenv("SC820_AUTOMATION");
    if (path == nullptr || *path == '\0') return nullptr;
    std::string error;
    std::unique_ptr<Transcript> transcript = Transcript::open(&error);
    if (!transcript) {
        std::fprintf(stderr, "error\t%s\n", Transcript::escape(error).c_str());
        ExitProcess(kScriptFailureStatus);
    }
    std::string text;
    std::optional<AutomationScript> script;
    if (!ReadScript(path, &text)) {
        error = std::string("cannot read automation script ") + path;
    } else {
        script = AutomationScript::parse(text, &error);
    }
    if (!script) {
        transcript->writeLine({"error", error});
        ExitProcess(kScriptFailureStatus);
    }
    auto automation = std::make_unique<Automation>(std::move(*script), std::move(transcript));
    gRightsTranscript = automation->transcript_.get();
    SetAuthorizationCallObserver(RecordFreedRights);
    return automation;
}

std::string Automation::where(const ScriptStep& step) {
    return "line " + std::to_string(step.line) + " (" + step.text + ")";
}

void Automation::finish(int status) {
    ended_ = true;
    exit_(status);
    std::abort();  // an Exit must not return
}

void Automation::fail(const std::string& text) {
    transcript_->writeLine({"error", text});
    finish(kScriptFailureStatus);
}

int Automation::answerAlert(const std::string& title, const std::string& message,
                            const char* defaultButton, const char* alternateButton,
                            const char* otherButton, const std::string& informativeText) {
    if (script_.atEnd()) fail("script ended while an alert is open: " + message);
    const ScriptStep& step = script_.take();
    if (step.kind != ScriptStep::Kind::answer) {
        fail(where(step) + ": an alert is open and needs an answer: " + message);
    }
    const long answer = step.number;
    if (answer != 1 && !(answer == 0 && alternateButton != nullptr) &&
        !(answer == -1 && otherButton != nullptr)) {
        fail(where(step) + ": no button of the alert gives this answer: " + message);
    }
    transcript_->writeLine({"alert", title, message, ButtonText(defaultButton),
                            ButtonText(alternateButton), std::to_string(answer)});
    if (!informativeText.empty()) transcript_->writeLine({"informative", informativeText});
    return static_cast<int>(answer);
}

int Automation::answerPanel(const std::string& directory, std::string* chosen) {
    if (script_.atEnd()) fail("script ended while an open panel is open in " + directory);
    const ScriptStep& step = script_.take();
    if (step.kind == ScriptStep::Kind::chooseCancel) {
        transcript_->writeLine({"panel", directory, "0", ""});
        return 0;
    }
    if (step.kind != ScriptStep::Kind::choose) {
        fail(where(step) + ": an open panel is open and needs choose or choose-cancel");
    }
    // A relative name is taken in the panel's directory, as if typed into the panel.
    std::filesystem::path path(step.name);
    if (path.is_relative()) path = std::filesystem::path(directory) / path;
    *chosen = path.string();
    transcript_->writeLine({"panel", directory, "1", *chosen});
    return 1;
}

void Automation::attach(QWidget* window, std::vector<std::string> outletNames) {
    window_ = window;
    outletNames_ = std::move(outletNames);
}

void Automation::scheduleIdleStep() {
    if (window_) QTimer::singleShot(0, window_, [this] { runIdleStep(); });
}

void Automation::runIdleStep() {
    // A hang-up or interrupt ends the program here, at the idle loop (Interrupt.h).
    if (InterruptRequested() != 0) {
        recordEnd();
        EndInterrupted();
    }
    if (script_.atEnd()) {
        transcript_->writeLine({"end"});
        finish(kExitSuccess);
    }
    const ScriptStep& step = script_.take();
    if (step.answersQuestion()) fail(where(step) + ": no alert or open panel is open");
    perform(step);
    scheduleIdleStep();
}

void Automation::perform(const ScriptStep& step) {
    switch (step.kind) {
        case ScriptStep::Kind::press:
            press(step);
            break;
        case ScriptStep::Kind::select:
            select(step);
            break;
        case ScriptStep::Kind::set:
            set(step);
            break;
        case ScriptStep::Kind::close:
            window_->close();
            break;
        case ScriptStep::Kind::dump:
            dump();
            break;
        default:
            break;
    }
}

QWidget* Automation::control(const ScriptStep& step) {
    QWidget* widget = nullptr;
    if (step.name.rfind("tag:", 0) == 0) {
        widget = WidgetWithTag(window_, std::stol(step.name.substr(4)));
    } else if (window_->objectName().toStdString() == step.name) {
        widget = window_;
    } else {
        widget = window_->findChild<QWidget*>(QString::fromStdString(step.name));
    }
    if (widget == nullptr) fail(where(step) + ": no control " + step.name);
    return widget;
}

void Automation::press(const ScriptStep& step) {
    QAbstractButton* button = ActionButton(window_, "act_" + step.name + ":");
    if (button == nullptr) fail(where(step) + ": no button sends act_" + step.name + ":");
    if (!button->isEnabled()) fail(where(step) + ": the button is disabled");
    button->click();
}

void Automation::select(const ScriptStep& step) {
    auto* list = dynamic_cast<NSPopUpButton*>(NSViewForWidget(control(step)));
    if (list == nullptr) fail(where(step) + ": " + step.name + " is not a pop-up list");
    list->selectItemAtIndex(static_cast<int>(step.number));
}

void Automation::set(const ScriptStep& step) {
    auto* button = dynamic_cast<NSButton*>(NSViewForWidget(control(step)));
    if (button == nullptr) fail(where(step) + ": " + step.name + " is not a button");
    button->setState(static_cast<int>(step.number));
}

void Automation::dump() {
    for (const std::string& name : outletNames_) {
        QWidget* widget = window_->findChild<QWidget*>(QString::fromStdString(name));
        if (widget == nullptr || widget->isWindow()) continue;
        if (auto value = ControlValueText(widget)) {
            transcript_->writeLine({"control", name, *value});
        }
    }
    for (QWidget* widget : TaggedWidgets(window_)) {
        if (auto value = ControlValueText(widget)) {
            transcript_->writeLine({"control", "tag:" + std::to_string(WidgetTag(widget)), *value});
        }
    }
}

void Automation::recordTerminate() {
    ended_ = true;
    transcript_->writeLine({"terminate"});
}

void Automation::recordEnd() {
    if (ended_) return;
    ended_ = true;
    transcript_->writeLine({"end"});
}
