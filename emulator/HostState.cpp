#include "emulator/HostState.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <algorithm>
#include <cmath>

#include "card/CommandCodes.h"
#include "emulator/HostError.h"

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
// Writing

namespace {

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

QJsonArray TextArray(const std::vector<std::string>& items) {
    QJsonArray array;
    for (const auto& item : items) array.append(Text(item));
    return array;
}

QJsonObject ExtensionJson(const LoadedExtension& e) {
    QJsonArray linked;
    for (int index : e.linked) linked.append(index);
    return QJsonObject{{"index", e.index},
                       {"identifier", Text(e.identifier)},
                       {"version", Text(e.version)},
                       {"classes", TextArray(e.classes)},
                       {"linked", linked},
                       {"address", static_cast<qint64>(e.address)},
                       {"size", static_cast<qint64>(e.size)},
                       {"wired", static_cast<qint64>(e.wired)}};
}

QJsonObject EntryJson(const RegistryEntry& e) {
    QJsonObject object{{"id", static_cast<qint64>(e.id)},
                       {"name", Text(e.name)},
                       {"class", Text(e.className)},
                       {"parent", static_cast<qint64>(e.parent)}};
    if (!e.owner.empty()) object.insert("owner", Text(e.owner));
    if (e.target >= 0) object.insert("target", e.target);
    if (e.duplicate) object.insert("duplicate", true);
    return object;
}

}  // namespace

std::string SerializeState(const HostState& state) {
    QJsonArray extensions;
    for (const auto& e : state.extensions) extensions.append(ExtensionJson(e));
    QJsonArray entries;
    for (const auto& e : state.entries) entries.append(EntryJson(e));
    QJsonObject root{
        {"format", 1},
        {"extensions", extensions},
        {"nextExtensionIndex", state.nextExtensionIndex},
        {"nextLoadAddress", static_cast<qint64>(state.nextLoadAddress)},
        {"entries", entries},
        {"nextEntryId", static_cast<qint64>(state.nextEntryId)},
        {"cardEntry", static_cast<qint64>(state.cardEntry)},
        {"auth", AuthPolicyName(state.auth)},
        {"faults", TextArray({state.faults.begin(), state.faults.end()})},
    };
    QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    json.append('\n');
    return json.toStdString();
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

    QJsonValue field(const QJsonObject& object, const char* key) const {
        QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined()) fail(std::string("missing \"") + key + "\"");
        return value;
    }

    int64_t integer(const QJsonObject& object, const char* key, int64_t low, int64_t high) const {
        QJsonValue value = field(object, key);
        double number = value.toDouble(std::nan(""));
        if (!value.isDouble() || std::floor(number) != number ||
            number < static_cast<double>(low) || number > static_cast<double>(high)) {
            fail(std::string("\"") + key + "\" is not an integer from " + std::to_string(low) +
                 " to " + std::to_string(high));
        }
        return static_cast<int64_t>(number);
    }

    std::string text(const QJsonObject& object, const char* key) const {
        QJsonValue value = field(object, key);
        if (!value.isString()) fail(std::string("\"") + key + "\" is not a string");
        return value.toString().toStdString();
    }

    QJsonArray array(const QJsonObject& object, const char* key) const {
        QJsonValue value = field(object, key);
        if (!value.isArray()) fail(std::string("\"") + key + "\" is not an array");
        return value.toArray();
    }

    QJsonObject object(const QJsonValue& value, const char* what) const {
        if (!value.isObject()) fail(std::string(what) + " is not an object");
        return value.toObject();
    }

    std::vector<std::string> texts(const QJsonObject& object, const char* key) const {
        std::vector<std::string> items;
        for (const QJsonValue& item : array(object, key)) {
            if (!item.isString()) fail(std::string("\"") + key + "\" holds a non-string");
            items.push_back(item.toString().toStdString());
        }
        return items;
    }

private:
    std::string path_;
};

constexpr int64_t kMaxId = 0xffffffffLL;

LoadedExtension ReadExtension(const StateReader& r, const QJsonValue& value) {
    QJsonObject o = r.object(value, "an extension");
    LoadedExtension e;
    e.index = static_cast<int>(r.integer(o, "index", 1, 1 << 30));
    e.identifier = r.text(o, "identifier");
    if (e.identifier.empty()) r.fail("an extension has an empty identifier");
    e.version = r.text(o, "version");
    e.classes = r.texts(o, "classes");
    for (const QJsonValue& link : r.array(o, "linked")) {
        if (!link.isDouble() || link.toInt(-1) < 1) r.fail("\"linked\" holds a bad index");
        e.linked.push_back(link.toInt());
    }
    e.address = static_cast<uint64_t>(r.integer(o, "address", 0, int64_t{1} << 52));
    e.size = static_cast<uint32_t>(r.integer(o, "size", 0, kMaxId));
    e.wired = static_cast<uint32_t>(r.integer(o, "wired", 0, kMaxId));
    return e;
}

RegistryEntry ReadEntry(const StateReader& r, const QJsonValue& value) {
    QJsonObject o = r.object(value, "a registry entry");
    RegistryEntry e;
    e.id = static_cast<uint32_t>(r.integer(o, "id", 1, kMaxId));
    e.name = r.text(o, "name");
    e.className = r.text(o, "class");
    e.parent = static_cast<uint32_t>(r.integer(o, "parent", 0, kMaxId));
    if (o.contains("owner")) e.owner = r.text(o, "owner");
    if (o.contains("target")) e.target = static_cast<int>(r.integer(o, "target", 0, 15));
    if (o.contains("duplicate")) {
        if (!o.value("duplicate").isBool()) r.fail("\"duplicate\" is not true or false");
        e.duplicate = o.value("duplicate").toBool();
    }
    return e;
}

void CheckExtensions(const StateReader& r, const HostState& s) {
    std::set<int> indices;
    std::set<std::string> identifiers;
    for (const auto& e : s.extensions) {
        if (!indices.insert(e.index).second)
            r.fail("extension index " + std::to_string(e.index) + " is used twice");
        if (!identifiers.insert(e.identifier).second) r.fail(e.identifier + " is loaded twice");
        if (e.index >= s.nextExtensionIndex)
            r.fail("\"nextExtensionIndex\" is not above every index");
    }
}

void CheckEntries(const StateReader& r, const HostState& s) {
    std::set<uint32_t> ids;
    for (const auto& e : s.entries) {
        if (!ids.insert(e.id).second)
            r.fail("registry entry " + std::to_string(e.id) + " is used twice");
        if (e.id >= s.nextEntryId) r.fail("\"nextEntryId\" is not above every entry id");
    }
    for (const auto& e : s.entries) {
        if (e.parent != 0 && ids.count(e.parent) == 0) {
            r.fail("registry entry " + std::to_string(e.id) + " has no parent " +
                   std::to_string(e.parent));
        }
    }
    if (ids.count(s.cardEntry) == 0) r.fail("\"cardEntry\" names no registry entry");
}

}  // namespace

HostState ParseState(const std::string& bytes, const std::string& path) {
    StateReader r(path);
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &error);
    if (document.isNull())
        r.fail(error.errorString().toStdString() + " at byte " + std::to_string(error.offset));
    QJsonObject root =
        r.object(document.isObject() ? QJsonValue(document.object()) : QJsonValue(), "the file");
    if (r.integer(root, "format", 1, 1) != 1) r.fail("unknown format");

    HostState s;
    for (const QJsonValue& v : r.array(root, "extensions"))
        s.extensions.push_back(ReadExtension(r, v));
    for (const QJsonValue& v : r.array(root, "entries")) s.entries.push_back(ReadEntry(r, v));
    s.nextExtensionIndex = static_cast<int>(r.integer(root, "nextExtensionIndex", 1, 1 << 30));
    s.nextLoadAddress =
        static_cast<uint64_t>(r.integer(root, "nextLoadAddress", 0, int64_t{1} << 52));
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
    CheckExtensions(r, s);
    CheckEntries(r, s);
    return s;
}

}  // namespace emu
