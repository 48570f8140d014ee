#include "emulator/host/HostState.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "driverif/CommandCodes.h"
#include "emulator/host/HostError.h"

namespace emu {

std::string RefuseFault(int selector) {
    return "refuse-" + std::to_string(selector);
}

const std::vector<std::string>& KnownFaults() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all = {kFaultMasterPort, kFaultMatching, kFaultSearch, kFaultOpen,
                                        kFaultDuplicateService};
        for (int code = 0; code < kDataAcquirerNumCommands; ++code)
            all.push_back(RefuseFault(code));
        return all;
    }();
    return names;
}

const char* AuthPolicyName(AuthPolicy policy) {
    switch (policy) {
        case AuthPolicy::allow:
            return "allow";
        case AuthPolicy::deny:
            return "deny";
        case AuthPolicy::cancel:
            return "cancel";
    }
    return "allow";
}

std::optional<AuthPolicy> ParseAuthPolicy(std::string_view name) {
    for (AuthPolicy policy : {AuthPolicy::allow, AuthPolicy::deny, AuthPolicy::cancel}) {
        if (name == AuthPolicyName(policy)) return policy;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Writing: an object's keys sorted and four spaces of indent, so that people can read the file
// and compare two states line by line.

namespace {

using Json = nlohmann::json;

Json ExtensionJson(const LoadedExtension& e) {
    Json object{{"index", e.index},     {"identifier", e.identifier},
                {"version", e.version}, {"classes", e.classes},
                {"linked", e.linked},   {"address", e.address},
                {"size", e.size},       {"wired", e.wired}};
    if (!e.userClients.empty()) object["userClients"] = e.userClients;
    return object;
}

Json EntryJson(const RegistryEntry& e) {
    Json object{{"id", e.id}, {"name", e.name}, {"class", e.className}, {"parent", e.parent}};
    if (!e.owner.empty()) object["owner"] = e.owner;
    if (e.target >= 0) object["target"] = e.target;
    if (e.duplicate) object["duplicate"] = true;
    if (e.userClient) object["userClient"] = true;
    return object;
}

}  // namespace

namespace {
constexpr std::string_view kStampLead = "{\n    \"generation\": \"";
}  // namespace

std::string NewStateStamp() {
    unsigned char random[kStateStampLength / 2];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        throw HostError(std::string("cannot draw a random stamp for the state: ") +
                        std::strerror(errno));
    static const char digits[] = "0123456789abcdef";
    std::string stamp;
    for (unsigned char byte : random) {
        stamp += digits[byte >> 4];
        stamp += digits[byte & 15];
    }
    return stamp;
}

std::string StampOfState(std::string_view leadingBytes) {
    if (leadingBytes.substr(0, kStampLead.size()) != kStampLead) return "";
    std::string_view rest = leadingBytes.substr(kStampLead.size());
    if (rest.size() <= kStateStampLength || rest[kStateStampLength] != '"') return "";
    return std::string(rest.substr(0, kStateStampLength));
}

std::string SerializeState(const HostState& state, const std::string& stamp) {
    Json extensions = Json::array();
    for (const auto& e : state.extensions) extensions.push_back(ExtensionJson(e));
    Json entries = Json::array();
    for (const auto& e : state.entries) entries.push_back(EntryJson(e));
    Json root{
        {"format", 1},
        {"extensions", extensions},
        {"nextExtensionIndex", state.nextExtensionIndex},
        {"nextLoadAddress", state.nextLoadAddress},
        {"entries", entries},
        {"nextEntryId", state.nextEntryId},
        {"cardEntry", state.cardEntry},
        {"auth", AuthPolicyName(state.auth)},
        {"faults", Json(std::vector<std::string>(state.faults.begin(), state.faults.end()))},
    };
    // The stamp is written ahead of the other keys (which the library sorts), so that it sits
    // at the very start of the file.
    const std::string body = root.dump(4);
    return std::string(kStampLead) + stamp + "\"," + body.substr(1) + "\n";
}

// ---------------------------------------------------------------------------------------------
// Reading: every value is checked, and the first problem names the file and the field.

namespace {

class StateReader {
public:
    explicit StateReader(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void fail(const std::string& why) const {
        throw HostError(CorruptMessage(path_, why));
    }

    const Json& field(const Json& object, const char* key) const {
        auto found = object.find(key);
        if (found == object.end()) fail(std::string("missing \"") + key + "\"");
        return *found;
    }

    // Whole numbers; a number written with a fraction or exponent counts when it is whole.
    int64_t integer(const Json& object, const char* key, int64_t low, int64_t high) const {
        const Json& value = field(object, key);
        std::optional<int64_t> number;
        if (value.is_number_integer() && value.is_number_unsigned()) {
            if (value.get<uint64_t>() <= static_cast<uint64_t>(high))
                number = static_cast<int64_t>(value.get<uint64_t>());
        } else if (value.is_number_integer()) {
            number = value.get<int64_t>();
        } else if (value.is_number_float()) {
            double d = value.get<double>();
            if (std::floor(d) == d && d >= static_cast<double>(low) &&
                d <= static_cast<double>(high))
                number = static_cast<int64_t>(d);
        }
        if (!number || *number < low || *number > high) {
            fail(std::string("\"") + key + "\" is not an integer from " + std::to_string(low) +
                 " to " + std::to_string(high));
        }
        return *number;
    }

    std::string text(const Json& object, const char* key) const {
        const Json& value = field(object, key);
        if (!value.is_string()) fail(std::string("\"") + key + "\" is not a string");
        return value.get<std::string>();
    }

    const Json& array(const Json& object, const char* key) const {
        const Json& value = field(object, key);
        if (!value.is_array()) fail(std::string("\"") + key + "\" is not an array");
        return value;
    }

    const Json& object(const Json& value, const char* what) const {
        if (!value.is_object()) fail(std::string(what) + " is not an object");
        return value;
    }

    std::vector<std::string> texts(const Json& object, const char* key) const {
        std::vector<std::string> items;
        for (const Json& item : array(object, key)) {
            if (!item.is_string()) fail(std::string("\"") + key + "\" holds a non-string");
            items.push_back(item.get<std::string>());
        }
        return items;
    }

private:
    std::string path_;
};

constexpr int64_t kMaxId = 0xffffffffLL;

LoadedExtension ReadExtension(const StateReader& r, const Json& value) {
    const Json& o = r.object(value, "an extension");
    LoadedExtension e;
    e.index = static_cast<int>(r.integer(o, "index", 1, kMaxExtensionIndex));
    e.identifier = r.text(o, "identifier");
    if (e.identifier.empty()) r.fail("an extension has an empty identifier");
    e.version = r.text(o, "version");
    e.classes = r.texts(o, "classes");
    for (const Json& link : r.array(o, "linked")) {
        if (!link.is_number_integer() || link.get<int64_t>() < 1 ||
            link.get<int64_t>() > kMaxExtensionIndex)
            r.fail("\"linked\" holds a bad index");
        e.linked.push_back(link.get<int>());
    }
    e.address = static_cast<uint64_t>(r.integer(o, "address", 0, kMaxLoadAddress));
    e.size = static_cast<uint32_t>(r.integer(o, "size", 0, kMaxId));
    e.wired = static_cast<uint32_t>(r.integer(o, "wired", 0, kMaxId));
    if (o.contains("userClients")) e.userClients = r.texts(o, "userClients");
    return e;
}

RegistryEntry ReadEntry(const StateReader& r, const Json& value) {
    const Json& o = r.object(value, "a registry entry");
    RegistryEntry e;
    e.id = static_cast<uint32_t>(r.integer(o, "id", 1, kMaxId));
    e.name = r.text(o, "name");
    e.className = r.text(o, "class");
    e.parent = static_cast<uint32_t>(r.integer(o, "parent", 0, kMaxId));
    if (o.contains("owner")) e.owner = r.text(o, "owner");
    if (o.contains("target")) e.target = static_cast<int>(r.integer(o, "target", 0, 15));
    if (o.contains("duplicate")) {
        if (!o["duplicate"].is_boolean()) r.fail("\"duplicate\" is not true or false");
        e.duplicate = o["duplicate"].get<bool>();
    }
    if (o.contains("userClient")) {
        if (!o["userClient"].is_boolean()) r.fail("\"userClient\" is not true or false");
        e.userClient = o["userClient"].get<bool>();
    }
    return e;
}

}  // namespace

HostState ParseState(const std::string& bytes, const std::string& path) {
    StateReader r(path);
    Json document = Json::parse(bytes, nullptr, false);
    if (document.is_discarded()) r.fail("not valid JSON");
    const Json& root = r.object(document, "the file");
    if (r.integer(root, "format", 1, 1) != 1) r.fail("unknown format");

    HostState s;
    for (const Json& v : r.array(root, "extensions")) s.extensions.push_back(ReadExtension(r, v));
    for (const Json& v : r.array(root, "entries")) s.entries.push_back(ReadEntry(r, v));
    s.nextExtensionIndex =
        static_cast<int>(r.integer(root, "nextExtensionIndex", 1, kMaxExtensionIndex));
    s.nextLoadAddress =
        static_cast<uint64_t>(r.integer(root, "nextLoadAddress", 0, kMaxLoadAddress));
    s.nextEntryId = static_cast<uint32_t>(r.integer(root, "nextEntryId", 1, kMaxId));
    s.cardEntry = static_cast<uint32_t>(r.integer(root, "cardEntry", 1, kMaxId));
    std::optional<AuthPolicy> auth = ParseAuthPolicy(r.text(root, "auth"));
    if (!auth) r.fail("\"auth\" is not allow, deny or cancel");
    s.auth = *auth;
    const auto& known = KnownFaults();
    for (const auto& fault : r.texts(root, "faults")) {
        if (std::find(known.begin(), known.end(), fault) == known.end())
            r.fail("unknown fault \"" + fault + "\"");
        s.faults.insert(fault);
    }
    std::string problem = CheckState(s);
    if (!problem.empty()) r.fail(problem);
    return s;
}

}  // namespace emu
