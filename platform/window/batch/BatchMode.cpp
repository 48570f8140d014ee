// The batch subcommands over the controller: the same start-up, then one action, then the end
// as Cancel would end the window (nothing stored) unless the action stores.
#include "platform/window/batch/BatchMode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/FileIO.h"
#include "platform/window/ExitCleanup.h"
#include "platform/window/ExitStatus.h"
#include "platform/window/NibLoader.h"
#include "platform/window/batch/ConfigDocument.h"
#include "platform/window/batch/MemoryControls.h"

namespace {

// The largest configuration document read; a real one is a few kilobytes.
constexpr size_t kMaxDocumentBytes = 64 * 1024;
// A copy of the card's configuration record, as the backups folder keeps it.
constexpr size_t kRecordCopySize = 308;

constexpr std::array<const char*, 4> kTerminatorButtons = {
    "out_SCSITerminators_0", "out_SCSITerminators_1", "out_SCSITerminators_2",
    "out_SCSITerminators_3"};

FormValues ReadForm(const MemoryWindow& window) {
    FormValues form;
    form.hostScsiId = window.list("out_hostSCSIID")->indexOfSelectedItem();
    form.resetRecoveringTime = window.list("out_resetRecoveringTime")->indexOfSelectedItem();
    form.requestSenseDelay = window.list("out_requestSenseDelay")->indexOfSelectedItem();
    form.burstTransfer = window.button("out_burstTransfer_E")->state() != 0;
    form.parity = window.button("out_parity_E")->state() != 0;
    for (size_t b = 0; b < kTerminatorButtons.size(); ++b) {
        if (window.button(kTerminatorButtons[b])->state() != 0) {
            form.terminators = static_cast<int>(b);
            break;
        }
    }
    for (int i = 0; i < kFormTargets; ++i) {
        FormValues::Target& t = form.targets[static_cast<size_t>(i)];
        t.maxRate = window.listWithTag(100 + i)->indexOfSelectedItem();
        t.sync = window.buttonWithTag(200 + i)->state() != 0;
        t.wide = window.buttonWithTag(300 + i)->state() != 0;
        t.disconnect = window.buttonWithTag(400 + i)->state() != 0;
    }
    return form;
}

// Sets the form as a person would: every button of a group explicitly.
void SetForm(const MemoryWindow& window, const FormValues& form) {
    window.list("out_hostSCSIID")->selectItemAtIndex(form.hostScsiId);
    window.list("out_resetRecoveringTime")->selectItemAtIndex(form.resetRecoveringTime);
    window.list("out_requestSenseDelay")->selectItemAtIndex(form.requestSenseDelay);
    window.button("out_burstTransfer_E")->setState(form.burstTransfer ? 1 : 0);
    window.button("out_burstTransfer_D")->setState(form.burstTransfer ? 0 : 1);
    window.button("out_parity_E")->setState(form.parity ? 1 : 0);
    window.button("out_parity_D")->setState(form.parity ? 0 : 1);
    for (size_t b = 0; b < kTerminatorButtons.size(); ++b)
        window.button(kTerminatorButtons[b])->setState(static_cast<int>(b) == form.terminators);
    for (int i = 0; i < kFormTargets; ++i) {
        const FormValues::Target& t = form.targets[static_cast<size_t>(i)];
        window.listWithTag(100 + i)->selectItemAtIndex(t.maxRate);
        window.buttonWithTag(200 + i)->setState(t.sync ? 1 : 0);
        window.buttonWithTag(300 + i)->setState(t.wide ? 1 : 0);
        window.buttonWithTag(400 + i)->setState(t.disconnect ? 1 : 0);
    }
}

std::string Text(const MemoryWindow& window, const char* name) {
    return window.field(name)->text().UTF8String();
}

// Writes the file whole: a temporary file beside it, flushed, renamed over it, and the folder
// flushed, so that a crash leaves either the old file or the whole new one.
bool WriteFileWhole(const std::string& path, const void* bytes, size_t length, std::string* error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    bool ok = sc820::WriteAll(fd, std::string_view(static_cast<const char*>(bytes), length));
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

class BatchRun {
public:
    BatchRun(const BatchRequest& request, const std::string& program, BatchOutcome& outcome)
        : request_(request), program_(program), outcome_(outcome) {}
    // The controller lives for the run, as the window's lives for the window.
    ~BatchRun() { delete controller_; }
    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;

    int run() {
        std::optional<FormValues> imported;
        if (request_.command == "config import") {
            imported = readDocument();
            if (!imported) return kExitUsage;
        }
        description_ = FindNibClass("SC820Controller");
        if (description_ == nullptr) {
            outcome_.fail("the controller class is not registered");
            return outcome_.status();
        }
        controller_ = description_->allocInit();
        for (const auto& [name, connect] : description_->outlets) {
            if (NSObject* outlet = window_.outlet(name)) connect(controller_, outlet);
        }
        description_->awakeFromNib(controller_);
        startForm_ = ReadForm(window_);
        perform(imported);
        return outcome_.status();
    }

private:
    std::optional<FormValues> readDocument() {
        NSData::ReadStatus status = NSData::ReadStatus::ok;
        const auto data = NSData::dataWithContentsOfRegularFile(NSString(request_.file),
                                                                kMaxDocumentBytes, &status);
        const char* why = status == NSData::ReadStatus::notRegularFile ? "not a regular file"
                          : status == NSData::ReadStatus::tooLarge     ? "larger than 64 KiB"
                                                                       : "cannot be read";
        if (!data || status != NSData::ReadStatus::ok) {
            report(request_.file + ": " + why);
            return std::nullopt;
        }
        // A record copy from the backups folder is brought back as the form shows it.
        const std::string text(reinterpret_cast<const char*>(data->bytes()), data->length());
        if (data->length() == kRecordCopySize &&
            nlohmann::json::parse(text, nullptr, false).is_discarded()) {
            recordCopy_ = data->bytes_;
            return FormValues();
        }
        ParsedDocument parsed = ParseConfigurationDocument(text);
        if (!parsed.form) report(request_.file + ": " + parsed.error + "; nothing was changed");
        return parsed.form;
    }

    void report(const std::string& line) const {
        std::fprintf(stderr, "%s: %s\n", program_.c_str(), line.c_str());
    }

    void perform(const std::optional<FormValues>& imported) {
        const std::string& c = request_.command;
        if (c == "show") return show();
        if (c == "config export") return writeOut(documentText());
        if (c == "config import" && !recordCopy_.empty()) {
            description_->showRecord(controller_, recordCopy_);
            return store(ReadForm(window_), true);
        }
        if (c == "config import") return store(*imported, false);
        if (c == "config default") {
            action("act_default:");
            if (outcome_.status() == kExitSuccess) store(ReadForm(window_), true);
            return;
        }
        if (c == "flash backup") return backUpFlash();
        if (c == "flash erase") return action("act_erase:");
        if (c == "flash write") return action("act_write:");
    }

    void action(const char* name) {
        for (const auto& [actionName, send] : description_->actions) {
            if (actionName == name) send(controller_, nullptr);
        }
    }

    std::vector<uint8_t> record() const { return description_->configurationRecord(controller_); }

    std::string documentText() const {
        return ConfigurationDocument(ReadForm(window_), Text(window_, "out_verPCB"), record());
    }

    void show() {
        const FormValues form = ReadForm(window_);
        if (request_.json) {
            nlohmann::ordered_json doc;
            doc["versions"] = {{"utility", Text(window_, "out_verSCSIConfigration")},
                               {"carriedDriver", Text(window_, "out_verConfigurateionDriver")},
                               {"scsiBios", Text(window_, "out_verSCSIBIOS")},
                               {"board", Text(window_, "out_verPCB")}};
            doc["configuration"] = nlohmann::ordered_json::parse(
                ConfigurationJson(form, Text(window_, "out_verPCB"), record()));
            std::printf("%s\n", doc.dump(2).c_str());
            return;
        }
        std::printf("utility: %s\ncarried driver: %s\nSCSI BIOS: %s\nboard: %s\n%s",
                    Text(window_, "out_verSCSIConfigration").c_str(),
                    Text(window_, "out_verConfigurateionDriver").c_str(),
                    Text(window_, "out_verSCSIBIOS").c_str(), Text(window_, "out_verPCB").c_str(),
                    ConfigurationDocument(form, Text(window_, "out_verPCB"), record()).c_str());
    }

    void writeOut(const std::string& text) {
        std::string error;
        if (!WriteFileWhole(request_.file, text.data(), text.size(), &error)) outcome_.fail(error);
    }

    void backUpFlash() {
        std::vector<uint8_t> flash;
        if (!description_->readFlash(controller_, &flash)) {
            outcome_.fail("the card refused to read the flash; " + request_.file +
                          " was not written");
            return;
        }
        std::string error;
        if (!WriteFileWhole(request_.file, flash.data(), flash.size(), &error))
            outcome_.fail(error);
    }

    // Stores the form as closing the window does, unless it shows what the card holds.
    void store(const FormValues& form, bool formAlreadySet) {
        const bool changed = !(form == startForm_);
        const auto say = [this](bool didChange) {
            if (request_.json) {
                std::printf("{\"changed\": %s}\n", didChange ? "true" : "false");
            } else if (!didChange) {
                std::printf("unchanged: the card already holds this configuration\n");
            }
        };
        if (!changed) {
            say(false);
            return;
        }
        if (!formAlreadySet) SetForm(window_, form);
        outcome_.setOnSuccess([say] { say(true); });
        description_->windowShouldClose(controller_, nullptr);
        // The store was refused or declined: the window would have stayed open.
        outcome_.setOnSuccess(nullptr);
    }

    BatchRequest request_;
    std::string program_;
    BatchOutcome& outcome_;
    MemoryWindow window_;
    const NibClassDescription* description_ = nullptr;
    NSObject* controller_ = nullptr;
    FormValues startForm_;
    std::vector<uint8_t> recordCopy_;
};

}  // namespace

// Reached only without the automation layer over it: nobody can answer, so a question is
// declined.
int BatchBackend::runAlert(const NSString&, const NSString& message, const char*,
                           const char* alternateButton, const char*, const NSString&) {
    std::fprintf(stderr, "%s\n", message.UTF8String().c_str());
    return alternateButton != nullptr ? 0 : 1;
}

int BatchBackend::runOpenPanel(const NSString&, const NSString*, const std::vector<NSString>*,
                               NSString*) {
    return NSCancelButton;
}

// The batch mode's status says how its request went, whatever the window would have ended with.
void BatchBackend::terminate(int /*exitStatus*/) {
    ExitProgram(outcome_.status());
}

int RunBatch(const BatchRequest& request, const std::string& program, BatchOutcome& outcome) {
    // The string table and the window texts are Qt's; no display is used.
    int argc = 1;
    char name[] = "sc820-utility";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    BatchRun run(request, program, outcome);
    const int status = run.run();
    std::fflush(stdout);
    return status;
}
