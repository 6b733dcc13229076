// Frames as changes: each operation is written straight from the world and the frame's record,
// with the text writer, so values come out byte for byte as the reports write them.
#include "toolkit/changes.h"

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "model/json_text.h"
#include "toolkit/kinds.h"

namespace orv {

namespace {

const Environment& zone_at(const Environment& root, const ZonePath& path) {
    const Environment* zone = &root;
    for (std::size_t index : path) zone = zone->sub_environments.at(index).get();
    return *zone;
}

// Opens one operation: {"op":OP,"path":POINTER and, for add and replace, ,"value": follows.
void begin_op(TextWriter& out, bool& first_op, const char* op, const std::string& pointer) {
    if (!first_op) out.raw(',');
    first_op = false;
    out.raw("{\"op\":\"");
    out.raw(op, std::char_traits<char>::length(op));
    out.raw("\",\"path\":");
    out.string(pointer);
}

}  // namespace

std::string apply_changes(std::string_view document, std::string_view patch) {
    using json = nlohmann::json;
    json doc = json::parse(document, nullptr, false);
    if (doc.is_discarded()) throw std::invalid_argument("expected a JSON document before the changes, found text that is not JSON");
    const json ops = json::parse(patch, nullptr, false);
    if (ops.is_discarded() || !ops.is_array()) {
        throw std::invalid_argument("expected changes (a JSON Patch: a list of operations), found " +
                                    std::string(ops.is_discarded() ? "text that is not JSON" : "JSON that is not a list"));
    }
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const json& op = ops[i];
        const bool known = op.is_object() && op.contains("op") && op.contains("path") && op["path"].is_string() &&
                           (op["op"] == "add" || op["op"] == "remove" || op["op"] == "replace") &&
                           (op["op"] == "remove" || op.contains("value"));
        if (!known) {
            throw std::invalid_argument("expected operation " + std::to_string(i) +
                                        " to be {\"op\": \"add\", \"remove\" or \"replace\", \"path\", \"value\"}, found " +
                                        op.dump(-1, ' ', false, json::error_handler_t::replace).substr(0, 80));
        }
        try {
            doc = doc.patch(json::array({op}));
        } catch (const json::exception&) {
            throw std::invalid_argument("expected operation " + std::to_string(i) + " (" + op["op"].get<std::string>() +
                                        " " + op["path"].dump(-1, ' ', false, json::error_handler_t::replace) +
                                        ") to name a place in the document before it, found none there");
        }
    }
    return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string zone_pointer(const ZonePath& path) {
    std::string pointer;
    for (std::size_t index : path) pointer += "/sub_environments/" + std::to_string(index);
    return pointer;
}

void write_changes(TextWriter& out, const NarrativeSequencer& sequencer, const NarrativeSequencer::Outcome& outcome,
                   bool first) {
    const Environment& root = *sequencer.root_environment;
    const FrameRecord& record = sequencer.last_record;
    // A patch names zones by their paths from the root. One that names a zone deeper than a report
    // can nest stands for a report that cannot be written, and its paths could add up to the square
    // of the depth: it is refused as the report is.
    std::size_t deepest = record.zone.size();
    record.each_flip([&](const ZonePath& path, std::size_t, bool) { deepest = std::max(deepest, path.size()); });
    check_text_depth(2 * deepest + 1);
    bool first_op = true;
    out.raw('[');
    // Flags flip at the start of the frame, so their paths hold in the document before the frame.
    record.each_flip([&](const ZonePath& path, std::size_t, bool to) {
        begin_op(out, first_op, "replace", zone_pointer(path) + "/is_time_frozen");
        out.raw(",\"value\":");
        out.boolean(to);
        out.raw('}');
    });
    const std::string zone = zone_pointer(record.zone);
    if (record.action == FrameRecord::Action::CAST) {
        begin_op(out, first_op, "remove", zone + "/agents/" + std::to_string(record.index));
        out.raw('}');
        const FrameEvent* event = sequencer.last_event ? &*sequencer.last_event : nullptr;
        const AgentKind* kind = event ? find_kind(event->agent_name) : nullptr;
        if (!(kind && kind->gate)) {
            begin_op(out, first_op, "replace", zone + "/charges");
            out.raw(",\"value\":[");
            const auto& charges = zone_at(root, record.zone).charges;
            for (std::size_t i = 0; i < charges.size(); ++i) {
                if (i) out.raw(',');
                charges[i].write_json(out);
                out.checkpoint();
            }
            out.raw("]}");
        }
    } else if (record.action == FrameRecord::Action::FOLD) {
        begin_op(out, first_op, "remove", zone + "/sub_environments/" + std::to_string(record.index));
        out.raw('}');
        begin_op(out, first_op, "add", zone + "/charges/-");
        out.raw(",\"value\":");
        zone_at(root, record.zone).charges.back().write_json(out);
        out.raw('}');
    }
    begin_op(out, first_op, first ? "add" : "replace", "/meta");
    out.raw(",\"value\":");
    sequencer.write_meta(out, outcome.status, outcome.message);
    out.raw("}]");
}

}  // namespace orv
