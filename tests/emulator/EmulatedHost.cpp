#include "tests/emulator/EmulatedHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "card/DriverNames.h"
#include "card/def.h"

namespace testhost {

std::string WriteKext(const std::string& dir, const std::string& name,
                      const std::string& identifier, const std::string& version,
                      const std::vector<std::string>& classes) {
    std::string bundle = dir + "/" + name;
    std::filesystem::create_directories(bundle + "/Contents");
    std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\"><dict>\n"
        "<key>CFBundleIdentifier</key><string>" +
        identifier +
        "</string>\n"
        "<key>CFBundleVersion</key><string>" +
        version +
        "</string>\n"
        "<key>IOKitPersonalities</key><dict>\n";
    for (size_t i = 0; i < classes.size(); ++i) {
        plist += "<key>Personality" + std::to_string(i) + "</key><dict><key>IOClass</key><string>" +
                 classes[i] + "</string></dict>\n";
    }
    plist += "</dict></dict></plist>\n";
    WriteFileBytes(bundle + "/Contents/Info.plist", plist);
    return bundle;
}

int RunTool(const TempHost& host, const std::string& tool, const std::vector<std::string>& args,
            std::string* output) {
    bool inSbin = tool == "kextload" || tool == "kextunload";
    std::vector<std::string> argv = {host.root() + (inSbin ? "/sbin/" : "/usr/sbin/") + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output);
}

void SwapInUtilityDriver(const TempHost& host, const std::string& scratch) {
    std::string out;
    EXPECT_EQ(RunTool(host, "kextunload", {"-m", kSC820DriverBundleID}, &out), 0) << out;
    std::string kext = WriteKext(scratch, "Utility.kext", kUtilityKextID, kUtilityKextVersion,
                                 {kUtilityDriverClass});
    EXPECT_EQ(RunTool(host, "kextload", {kext}, &out), 0) << out;
}

std::string PatternRecord(int seed) {
    std::string record(sizeof(SCSIUTY_CFG), '\0');
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<char>((i * 7 + 13 * seed + 1) & 0xFF);
    return record;
}

std::string StatusFact(const TempHost& host, const std::string& key) {
    std::istringstream in(host.hostOk({"status"}));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

}  // namespace testhost
