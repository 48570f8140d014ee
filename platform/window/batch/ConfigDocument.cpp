// The configuration document. Values are the form's own: a list position maps to the unit its
// item shows, and a value the form could not show (or could show but not store as shown, such
// as 40 MB/s on a narrow target) is refused, so that importing an export changes nothing.
#include "platform/window/batch/ConfigDocument.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

namespace {

using Json = nlohmann::ordered_json;

// The items of the form's lists, in their order.
constexpr std::array<double, 8> kResetSeconds = {0.5, 1, 2, 3, 5, 10, 15, 20};
constexpr std::array<double, 8> kSenseDelayMs = {0, 100, 250, 500, 1000, 2000, 3000, 5000};
constexpr std::array<double, 11> kRatesMBps = {40, 26.6, 20, 16, 13.3, 11.4, 10, 8, 6.6, 5.7, 5};
constexpr std::array<const char*, 4> kTerminators = {"automatic", "high byte only", "on", "off"};

// Rates the form stores as shown: a narrow target keeps 20 MB/s and below (13.3 and 10 to 5),
// a wide one the first seven items.
bool RateStorable(int position, bool wide) {
    if (wide) return position >= -1 && position <= 6;
    return position == 2 || position == 4 || (position >= 6 && position <= 10);
}

template <size_t N>
Json ValueAt(const std::array<double, N>& items, int position) {
    if (position < 0 || position >= static_cast<int>(N)) return nullptr;
    const double v = items[static_cast<size_t>(position)];
    if (v == std::floor(v)) return static_cast<int64_t>(v);
    return v;
}

template <size_t N>
std::optional<int> PositionOf(const std::array<double, N>& items, const Json& value) {
    if (value.is_null()) return -1;
    if (!value.is_number()) return std::nullopt;
    const double v = value.get<double>();
    for (size_t i = 0; i < N; ++i)
        if (std::fabs(items[i] - v) < 1e-9) return static_cast<int>(i);
    return std::nullopt;
}

Json Document(const FormValues& form, const std::string& boardVersion,
              const std::vector<uint8_t>& record) {
    Json doc;
    doc["hostAdapterScsiId"] =
        form.hostScsiId >= 0 && form.hostScsiId < 16 ? Json(form.hostScsiId) : Json(nullptr);
    doc["resetRecoveringTimeSeconds"] = ValueAt(kResetSeconds, form.resetRecoveringTime);
    doc["requestSenseDelayMilliseconds"] = ValueAt(kSenseDelayMs, form.requestSenseDelay);
    doc["burstTransfer"] = form.burstTransfer;
    doc["parity"] = form.parity;
    doc["terminators"] = kTerminators[static_cast<size_t>(form.terminators & 3)];
    Json targets = Json::array();
    for (int id = 0; id < kFormTargets; ++id) {
        const FormValues::Target& t = form.targets[static_cast<size_t>(id)];
        targets.push_back({{"id", id},
                           {"maxRateMBps", ValueAt(kRatesMBps, t.maxRate)},
                           {"sync", t.sync},
                           {"wide", t.wide},
                           {"disconnect", t.disconnect}});
    }
    doc["targets"] = targets;
    doc["boardVersion"] = boardVersion;
    std::string hex;
    for (uint8_t byte : record) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    doc["record"] = hex;
    return doc;
}

// Reading a document: the first fault found ends the reading.
class Reader {
public:
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    void fail(const std::string& key, const Json& value, const char* why) {
        if (error_.empty()) error_ = key + " = " + value.dump() + ": " + why;
    }
    void missing(const std::string& key) {
        if (error_.empty()) error_ = key + ": missing";
    }

    // Refuses keys other than the known ones, and known ones that are absent.
    bool keys(const Json& object, const std::string& where, const std::set<std::string>& known,
              const std::set<std::string>& optional) {
        for (const auto& [key, value] : object.items()) {
            if (known.count(key) == 0 && optional.count(key) == 0) {
                fail(where + key, value, "unknown key");
                return false;
            }
        }
        for (const std::string& key : known) {
            if (!object.contains(key)) {
                missing(where + key);
                return false;
            }
        }
        return true;
    }

    bool boolean(const Json& object, const std::string& where, const char* key, bool* out) {
        const Json& v = object.at(key);
        if (!v.is_boolean()) {
            fail(where + key, v, "not true or false");
            return false;
        }
        *out = v.get<bool>();
        return true;
    }

    template <size_t N>
    bool listItem(const Json& object, const std::string& where, const char* key,
                  const std::array<double, N>& items, int* out) {
        const Json& v = object.at(key);
        const auto position = PositionOf(items, v);
        if (!position) {
            fail(where + key, v, "not a value the form offers");
            return false;
        }
        *out = *position;
        return true;
    }

private:
    std::string error_;
};

void ReadGeneral(Reader& r, const Json& doc, FormValues* form) {
    const Json& id = doc.at("hostAdapterScsiId");
    if (id.is_null()) {
        form->hostScsiId = -1;
    } else if (id.is_number_integer() && id.get<int64_t>() >= 0 && id.get<int64_t>() <= 15) {
        form->hostScsiId = static_cast<int>(id.get<int64_t>());
    } else {
        r.fail("hostAdapterScsiId", id, "not a value the form offers");
        return;
    }
    if (!r.listItem(doc, "", "resetRecoveringTimeSeconds", kResetSeconds,
                    &form->resetRecoveringTime) ||
        !r.listItem(doc, "", "requestSenseDelayMilliseconds", kSenseDelayMs,
                    &form->requestSenseDelay) ||
        !r.boolean(doc, "", "burstTransfer", &form->burstTransfer) ||
        !r.boolean(doc, "", "parity", &form->parity)) {
        return;
    }
    const Json& term = doc.at("terminators");
    for (size_t b = 0; b < kTerminators.size(); ++b) {
        if (term.is_string() && term.get<std::string>() == kTerminators[b]) {
            form->terminators = static_cast<int>(b);
            return;
        }
    }
    r.fail("terminators", term, "not automatic, high byte only, on or off");
}

void ReadTargets(Reader& r, const Json& doc, FormValues* form) {
    const Json& targets = doc.at("targets");
    if (!targets.is_array() || targets.size() != kFormTargets) {
        r.fail("targets", targets, "not a list of 16 targets");
        return;
    }
    for (size_t i = 0; i < targets.size() && !r.failed(); ++i) {
        const Json& t = targets[i];
        const std::string where = "targets[" + std::to_string(i) + "].";
        if (!t.is_object()) {
            r.fail("targets[" + std::to_string(i) + "]", t, "not an object");
            return;
        }
        if (!r.keys(t, where, {"id", "maxRateMBps", "sync", "wide", "disconnect"}, {})) return;
        const Json& id = t.at("id");
        if (!id.is_number_integer() || id.get<int64_t>() != static_cast<int64_t>(i)) {
            r.fail(where + "id", id, "not the target's place in the list");
            return;
        }
        FormValues::Target& out = form->targets[i];
        if (!r.boolean(t, where, "sync", &out.sync) || !r.boolean(t, where, "wide", &out.wide) ||
            !r.boolean(t, where, "disconnect", &out.disconnect) ||
            !r.listItem(t, where, "maxRateMBps", kRatesMBps, &out.maxRate)) {
            return;
        }
        if (!RateStorable(out.maxRate, out.wide)) {
            r.fail(
                where + "maxRateMBps", t.at("maxRateMBps"),
                out.wide ? "not a rate a wide target keeps" : "not a rate a narrow target keeps");
        }
    }
}

}  // namespace

std::string ConfigurationJson(const FormValues& form, const std::string& boardVersion,
                              const std::vector<uint8_t>& record) {
    return Document(form, boardVersion, record).dump(2);
}

std::string ConfigurationDocument(const FormValues& form, const std::string& boardVersion,
                                  const std::vector<uint8_t>& record) {
    return ConfigurationJson(form, boardVersion, record) + "\n";
}

ParsedDocument ParseConfigurationDocument(const std::string& text) {
    ParsedDocument result;
    const Json doc = Json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        result.error = "not a JSON document";
        return result;
    }
    Reader r;
    if (!doc.is_object()) {
        r.fail("(document)", doc, "not an object");
    } else if (r.keys(doc, "",
                      {"hostAdapterScsiId", "resetRecoveringTimeSeconds",
                       "requestSenseDelayMilliseconds", "burstTransfer", "parity", "terminators",
                       "targets"},
                      {"boardVersion", "record"})) {
        FormValues form;
        ReadGeneral(r, doc, &form);
        if (!r.failed()) ReadTargets(r, doc, &form);
        for (const char* info : {"boardVersion", "record"}) {
            if (!r.failed() && doc.contains(info) && !doc.at(info).is_string())
                r.fail(info, doc.at(info), "not a text");
        }
        if (!r.failed()) result.form = form;
    }
    result.error = r.error();
    return result;
}
