#include "tests/e2e/Scenario.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/foundation/Foundation.h"
#include "tests/support/EnglishTexts.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TerminalProgram.h"

namespace fs = std::filesystem;

namespace {

std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const char next = field[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<TranscriptLine> ParseTranscript(const std::string& text) {
    std::vector<TranscriptLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        TranscriptLine parsed;
        size_t start = 0;
        while (true) {
            const size_t tab = line.find('\t', start);
            parsed.fields.push_back(Unescape(line.substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        lines.push_back(parsed);
    }
    return lines;
}

}  // namespace

bool RunsInTerminal() {
    const char* backend = std::getenv("SC820_E2E_BACKEND");
    return backend != nullptr && std::string(backend) == "terminal";
}

std::vector<std::string> RunResult::alertMessages() const {
    std::vector<std::string> messages;
    for (const auto& l : transcript)
        if (l.fields[0] == "alert" && l.fields.size() > 2) messages.push_back(l.fields[2]);
    return messages;
}

std::vector<std::string> RunResult::informativeTexts() const {
    std::vector<std::string> texts;
    for (const auto& l : transcript) {
        if (l.fields[0] == "alert") texts.emplace_back();
        if (l.fields[0] == "informative" && l.fields.size() > 1 && !texts.empty())
            texts.back() = l.fields[1];
    }
    return texts;
}

std::string RunResult::control(const std::string& name) const {
    std::string value = "<none>";
    for (const auto& l : transcript)
        if (l.fields[0] == "control" && l.fields.size() > 2 && l.fields[1] == name)
            value = l.fields[2];
    return value;
}

bool RunResult::has(const std::string& kind) const {
    for (const auto& l : transcript)
        if (l.fields[0] == kind) return true;
    return false;
}

std::string RunResult::lastKind() const {
    return transcript.empty() ? "" : transcript.back().fields[0];
}

void Scenario::SetUp() {
    UseMainBundleAt(SC820_BUNDLE_DIR);
}

RunResult Scenario::run(const std::string& script, const std::string& bundle,
                        const std::vector<std::string>& extraEnv) {
    const std::string scriptPath = work.path() + "/script.txt";
    const std::string transcriptPath = work.path() + "/transcript.txt";
    WriteFileBytes(scriptPath, script);
    fs::remove(transcriptPath);
    std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(),
                                    "SC820_AUTOMATION=" + scriptPath,
                                    "SC820_TRANSCRIPT=" + transcriptPath,
                                    "QT_QPA_PLATFORM=offscreen",
                                    "LANG=en_US.UTF-8",
                                    "LC_ALL=C.UTF-8",
                                    "LANGUAGE=",
                                    "HOME=" + work.path(),
                                    "XDG_STATE_HOME=" + work.path() + "/state"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    // A program run under a tracer cannot have its leaks checked: the leak checker stops the
    // program's threads with ptrace, which the tracer holds already.
    if (!runner.empty()) {
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        env.push_back(std::string("ASAN_OPTIONS=") + (sanitizer != nullptr ? sanitizer : "") +
                      ":detect_leaks=0");
    }
    RunResult result;
    std::vector<std::string> argv = runner;
    argv.push_back(bundle + "/Contents/bin/sc820-utility");
    if (RunsInTerminal()) {
        // The same script through the terminal backend, in a pseudo-terminal.
        argv.push_back("--terminal");
        TerminalProgram terminal(argv, env);
        result.exitCode = terminal.waitForExit(120000);
        result.output = terminal.screen();
        // However the program ended, the person is given the terminal back as it was.
        EXPECT_NE(terminal.output().find("\033[?1049h"), std::string::npos)
            << "the terminal backend never took the screen";
        EXPECT_FALSE(terminal.alternateScreen()) << "left on the alternate screen";
        EXPECT_TRUE(terminal.cursorVisible()) << "left with the cursor hidden";
        const struct termios modes = terminal.modes();
        EXPECT_TRUE((modes.c_lflag & ICANON) && (modes.c_lflag & ECHO) && (modes.c_lflag & ISIG))
            << "left without line editing, echo or signals";
    } else {
        result.exitCode = RunProgram(argv, &result.output, env);
    }
    result.transcript = ParseTranscript(ReadFileBytes(transcriptPath));
    return result;
}

std::string Scenario::copyBundle(const std::string& name) {
    const fs::path target = fs::path(work.path()) / name;
    fs::create_directories(target.parent_path());
    fs::copy(SC820_BUNDLE_DIR, target, fs::copy_options::recursive);
    return target.string();
}

std::string Scenario::text(const char* key) {
    return kEnglishText.at(key);
}

std::string Scenario::pathMessage(const std::string& bundlePath) {
    return kEnglishText.at("MSG_PATHERROR") + "\r\r" + kEnglishText.at("MSG_CHECKPATH") +
           bundlePath;
}

SCSIUTY_CFG Scenario::eeprom() const {
    return host.eeprom();
}

void Scenario::putEeprom(const SCSIUTY_CFG& record) const {
    host.putEeprom(record);
}

std::string Scenario::flash() const {
    const std::string file = work.path() + "/flash-out.bin";
    host.hostOk({"flash", "get", file});
    return ReadFileBytes(file);
}

std::string Scenario::kextstat() const {
    std::string out;
    RunProgram({host.root() + "/usr/sbin/kextstat"}, &out);
    return out;
}
