#include "tests/e2e/Scenario.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "platform/foundation/Foundation.h"
#include "tests/support/EnglishTexts.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TerminalProgram.h"

namespace fs = std::filesystem;

bool RunsInTerminal() {
    const char* backend = std::getenv("SC820_E2E_BACKEND");
    return backend != nullptr && std::string(backend) == "terminal";
}

void Scenario::runTable(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.args.empty() && RunsInTerminal()) continue;  // the batch mode has no screen
        host.hostOk({"init", "--force"});
        fs::remove_all(home("state"));
        bundle = SC820_BUNDLE_DIR;
        env.clear();
        runner.clear();
        skip.clear();
        recordBefore = record();
        flashBefore = flash();
        for (const auto& [name, bytes] : row.files) {
            fs::remove_all(home(name));
            WriteFileBytes(home(name), bytes);
        }
        for (const std::string& fault : row.faults) host.hostOk({"fault", fault, "on"});
        if (row.setUp) row.setUp(*this);
        if (!skip.empty()) {
            std::printf("skipped: %s\n", skip.c_str());
            continue;
        }
        const RunResult r = run(row.script, row.args);
        std::vector<std::string> alerts, expected, informs;
        std::map<std::string, std::pair<std::string, std::string>> controls;  // first, last
        for (const auto& l : r.transcript) {
            if (l[0] == "alert" && l.size() > 2) alerts.push_back(l[2]), informs.emplace_back();
            if (l[0] == "informative" && l.size() > 1 && !informs.empty()) informs.back() = l[1];
            if (l[0] == "control" && l.size() > 2 && !controls.contains(l[1]))
                controls[l[1]].first = l[2];
            if (l[0] == "control" && l.size() > 2) controls[l[1]].second = l[2];
        }
        for (const std::string& key : row.alerts)
            expected.push_back(key != "MSG_PATHERROR"
                                   ? text(key)
                                   : text(key) + "\r\r" + text("MSG_CHECKPATH") + bundle);
        EXPECT_EQ(alerts, expected) << r.output;
        EXPECT_EQ(r.exitCode, row.status) << r.output;
        const std::string last = r.transcript.empty() ? "" : r.transcript.back()[0];
        EXPECT_TRUE(!row.args.empty() || last == row.last) << last;
        for (const std::string& c : row.controls) {
            const size_t at = c.find_first_of("=<");
            const auto& [first, lastValue] = controls[c.substr(0, at)];
            EXPECT_EQ(c[at] == '<' ? first : lastValue, c.substr(at + 1)) << c;
        }
        ASSERT_GE(informs.size(), row.informs.size());
        for (size_t i = 0; i < row.informs.size(); ++i)
            EXPECT_EQ(informs[informs.size() - row.informs.size() + i], text(row.informs[i]));
        EXPECT_TRUE(row.counts.empty() || host.commandCounts() == row.counts)
            << testing::PrintToString(host.commandCounts());
        for (const std::string& said : row.says) EXPECT_TRUE(Contains(r.output, said)) << said;
        if (row.check) row.check(*this, r);
        held.reset();
        std::string record = recordBefore;
        for (const auto& [at, hex] : row.record)
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                record[at + i / 2] = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        EXPECT_TRUE(this->record() == record);
        EXPECT_TRUE(flash() == (row.flash.empty() ? flashBefore : row.flash));
        if (row.keeps == nullptr) continue;
        const auto copies = kept(row.keeps);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_TRUE(ReadFileBytes(backups() + "/" + copies[0]) ==
                    (row.keeps[0] == 'f' ? flashBefore : recordBefore));
        const std::regex name(std::string(row.keeps) + "-2\\d{7}T\\d{6}Z-[0-9a-f]{8}\\.bin");
        EXPECT_TRUE(std::regex_match(copies[0], name)) << copies[0];
    }
}

RunResult Scenario::run(const std::string& script, const std::vector<std::string>& args) {
    const std::string scriptPath = home("script.txt"), transcriptPath = home("transcript.txt");
    WriteFileBytes(scriptPath, script);
    fs::remove(transcriptPath);
    std::vector<std::string> all = environment();
    if (args.empty())
        all.insert(all.end(), {"SC820_AUTOMATION=" + scriptPath,
                               "SC820_TRANSCRIPT=" + transcriptPath, "QT_QPA_PLATFORM=offscreen"});
    all.insert(all.end(), env.begin(), env.end());
    // A program run under a tracer cannot have its leaks checked: the leak checker stops the
    // program's threads with ptrace, which the tracer holds already.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    if (!runner.empty())
        all.push_back("ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") +
                      ":detect_leaks=0");
    RunResult result;
    std::vector<std::string> argv = runner;
    argv.push_back(bundle + "/Contents/bin/sc820-utility");
    argv.insert(argv.end(), args.begin(), args.end());
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
    std::istringstream in(ReadFileBytes(transcriptPath));
    for (std::string line; std::getline(in, line);) {
        auto& fields = result.transcript.emplace_back(1);
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t') {
                fields.emplace_back();
                continue;
            }
            char c = line[i];
            if (c == '\\' && i + 1 < line.size())
                c = line[++i], c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
            fields.back() += c;
        }
    }
    return result;
}

std::vector<std::string> Scenario::environment() const {
    std::vector<std::string> all = {"SC820_AUTOMATION=", "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8"};
    all.insert(all.end(), {"LANGUAGE=", "HOME=" + work.path(), "XDG_STATE_HOME=" + home("state")});
    return all.push_back("SC820_HOST_ROOT=" + host.root()), all;
}

std::string Scenario::copyBundle(const std::string& name) {
    fs::create_directories(fs::path(home(name)).parent_path());
    fs::copy(SC820_BUNDLE_DIR, home(name), fs::copy_options::recursive);
    return bundle = home(name);
}

std::string Scenario::text(const std::string& key) {
    if (!key.empty() && key[0] == '=') return key.substr(1);
    const auto found = kEnglishText.find(key);
    return found != kEnglishText.end() ? found->second : key;
}

std::string Scenario::card(const char* file) const {
    return ReadFileBytes(host.root() + "/var/db/sc820/" + file);
}

std::vector<std::string> Scenario::kept(const std::string& kind) const {
    std::vector<std::string> names;
    std::error_code none;  // no backups folder: no copies
    for (const auto& e : fs::directory_iterator(backups(), none))
        if (e.path().filename().string().rfind(kind + "-", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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

std::string FlashAfterWrite(const std::string& image) {
    std::string flash = image.substr(0, std::min<size_t>(image.size(), kFlashSize));
    flash.resize(kFlashSize, '\0');
    return flash;
}
