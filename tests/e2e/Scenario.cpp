#include "tests/e2e/Scenario.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/foundation/Foundation.h"
#include "tests/support/EnglishTexts.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TerminalProgram.h"

namespace fs = std::filesystem;

std::vector<TranscriptLine> ParseTranscript(const std::string& text) {
    std::vector<TranscriptLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        TranscriptLine parsed{{""}};
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\t') {
                parsed.fields.emplace_back();
                continue;
            }
            if (c == '\\' && i + 1 < line.size()) {
                c = line[++i];
                c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
            }
            parsed.fields.back() += c;
        }
        lines.push_back(parsed);
    }
    return lines;
}

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

std::string RunResult::control(const std::string& name, bool first) const {
    std::string value = "<none>";
    for (const auto& l : transcript) {
        if (l.fields[0] == "control" && l.fields.size() > 2 && l.fields[1] == name) {
            value = l.fields[2];
            if (first) break;
        }
    }
    return value;
}

bool RunResult::has(const std::string& kind) const {
    return std::any_of(transcript.begin(), transcript.end(),
                       [&](const TranscriptLine& l) { return l.fields[0] == kind; });
}

std::string RunResult::lastKind() const {
    return transcript.empty() ? "" : transcript.back().fields[0];
}

void Scenario::SetUp() {
    UseMainBundleAt(SC820_BUNDLE_DIR);
}

void Scenario::runTable(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        host.hostOk({"init", "--force"});
        fs::remove_all(work.path() + "/state");
        bundle = SC820_BUNDLE_DIR;
        env.clear();
        runner.clear();
        skip.clear();
        recordBefore = record();
        flashBefore = flash();
        if (row.setUp) row.setUp(*this);
        if (!skip.empty()) {
            std::printf("skipped: %s\n", skip.c_str());
            continue;
        }
        const RunResult r = run(row.script);
        std::vector<std::string> expected;
        for (const std::string& key : row.alerts)
            expected.push_back(key == "MSG_PATHERROR" ? pathMessage(bundle) : text(key));
        EXPECT_EQ(r.alertMessages(), expected) << r.output;
        EXPECT_EQ(r.exitCode, row.status) << r.output;
        if (row.check) row.check(*this, r);
        held.reset();
        EXPECT_TRUE(row.changesRecord || record() == recordBefore);
        EXPECT_TRUE(row.changesFlash || flash() == flashBefore);
    }
}

RunResult Scenario::run(const std::string& script) {
    const std::string scriptPath = work.path() + "/script.txt";
    const std::string transcriptPath = work.path() + "/transcript.txt";
    WriteFileBytes(scriptPath, script);
    fs::remove(transcriptPath);
    std::vector<std::string> all = environment();
    all.insert(all.end(), {"SC820_AUTOMATION=" + scriptPath, "SC820_TRANSCRIPT=" + transcriptPath,
                           "QT_QPA_PLATFORM=offscreen"});
    all.insert(all.end(), env.begin(), env.end());
    // A program run under a tracer cannot have its leaks checked: the leak checker stops the
    // program's threads with ptrace, which the tracer holds already.
    if (!runner.empty()) {
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        all.push_back(std::string("ASAN_OPTIONS=") + (sanitizer != nullptr ? sanitizer : "") +
                      ":detect_leaks=0");
    }
    RunResult result;
    std::vector<std::string> argv = runner;
    argv.push_back(bundle + "/Contents/bin/sc820-utility");
    if (RunsInTerminal()) {
        argv.push_back("--terminal");
        TerminalProgram terminal(argv, all);
        result.exitCode = terminal.waitForExit(120000);
        result.output = terminal.screen();
        // However the program ended, the person is given the terminal back as it was.
        EXPECT_TRUE(Contains(terminal.output(), "\033[?1049h")) << "never took the screen";
        EXPECT_FALSE(terminal.alternateScreen()) << "left on the alternate screen";
        EXPECT_TRUE(terminal.cursorVisible()) << "left with the cursor hidden";
        const struct termios modes = terminal.modes();
        EXPECT_TRUE((modes.c_lflag & ICANON) && (modes.c_lflag & ECHO) && (modes.c_lflag & ISIG))
            << "left without line editing, echo or signals";
    } else {
        result.exitCode = RunProgram(argv, &result.output, all);
    }
    result.transcript = ParseTranscript(ReadFileBytes(transcriptPath));
    return result;
}

std::vector<std::string> Scenario::environment() const {
    return {"SC820_HOST_ROOT=" + host.root(),
            "SC820_AUTOMATION=",
            "LANG=en_US.UTF-8",
            "LC_ALL=C.UTF-8",
            "LANGUAGE=",
            "HOME=" + work.path(),
            "XDG_STATE_HOME=" + work.path() + "/state"};
}

std::string Scenario::copyBundle(const std::string& name) {
    const fs::path target = fs::path(work.path()) / name;
    fs::create_directories(target.parent_path());
    fs::copy(SC820_BUNDLE_DIR, target, fs::copy_options::recursive);
    bundle = target.string();
    return bundle;
}

std::string Scenario::text(const std::string& key) {
    const auto found = kEnglishText.find(key);
    if (key[0] == '=') return key.substr(1);
    return found != kEnglishText.end() ? found->second : key;
}

std::string Scenario::pathMessage(const std::string& bundlePath) {
    return text("MSG_PATHERROR") + "\r\r" + text("MSG_CHECKPATH") + bundlePath;
}

// The card's files as the host keeps them: read directly, as no run is going on.
std::string Scenario::record() const {
    return ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
}

std::string Scenario::flash() const {
    return ReadFileBytes(host.root() + "/var/db/sc820/flash.bin");
}

std::string Scenario::kextstat() const {
    std::string out;
    RunProgram({host.root() + "/usr/sbin/kextstat"}, &out);
    return out;
}

std::vector<std::string> Scenario::kept(const std::string& kind) const {
    std::vector<std::string> names;
    if (!fs::exists(backups())) return names;
    for (const auto& e : fs::directory_iterator(backups())) {
        const std::string name = e.path().filename().string();
        if (name.rfind(kind + "-", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::function<void(Scenario&)> HostDoes(std::vector<std::string> args) {
    return [args](Scenario& s) { s.host.hostOk(args); };
}

std::string WriteScript(const std::string& file, int answersAfterPanel) {
    std::string script = "answer 1\npress write\nanswer 1\nchoose " + file + "\n";
    for (int i = 0; i < answersAfterPanel; ++i) script += "answer 1\n";
    return script + "dump\npress cancel\n";
}

std::string Image(size_t length, int seed) {
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>((i * 31 + seed) % 251 + 1);
    return image;
}
