// Level files: the table of level cases that every layer reads (tests/levels/cases.json), a level saved
// by the toolkit before the engine wrote levels, and worlds written and read back bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/text_writer.h"
#include "sequencer/sequencer.h"
#include "toolkit/kinds.h"
#include "toolkit/level_file.h"
#include "worked_world.h"

namespace orv {
namespace {

using json = nlohmann::json;

std::string file_text(const std::string& name) {
    std::ifstream in(std::string(ORV_LEVEL_TESTS_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A case's file: its pieces joined, as UTF-8 or with each character standing for one byte.
std::string case_bytes(const json& entry) {
    std::string text;
    for (const json& piece : entry["text"].is_array() ? entry["text"] : json::array({entry["text"]})) {
        if (piece.is_string()) {
            text += piece.get<std::string>();
        } else {
            for (int i = 0; i < piece["times"].get<int>(); ++i) text += piece["repeat"].get<std::string>();
        }
    }
    if (!entry.value("latin1", false)) return text;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        bytes += static_cast<char>(lead < 0x80 ? lead : ((lead & 0x1F) << 6) | (text[++i] & 0x3F));
    }
    return bytes;
}

json exact(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

// Every zone in preorder, parents first and sub-zones in list order.
std::vector<const Environment*> zones(const Environment& root) {
    std::vector<const Environment*> order, pending{&root};
    while (!pending.empty()) {
        const Environment* zone = pending.back();
        pending.pop_back();
        order.push_back(zone);
        for (auto sub = zone->sub_environments.rbegin(); sub != zone->sub_environments.rend(); ++sub) pending.push_back(sub->get());
    }
    return order;
}

// {"magnitudes", "targets"} as the web engine's numbers() writes them.
json numbers(const Environment& root) {
    json magnitudes = json::array(), targets = json::array();
    for (const Environment* zone : zones(root)) {
        for (const Charge& charge : zone->charges) magnitudes.push_back(exact(charge.magnitude));
        for (const auto& agent : zone->agents) {
            if (const auto target = target_of(*agent)) targets.push_back(exact(*target));
        }
    }
    return {{"magnitudes", magnitudes}, {"targets", targets}};
}

std::vector<json> level_cases() {
    const json table = json::parse(file_text("cases.json"));
    return table["cases"].get<std::vector<json>>();
}

class LevelCase : public ::testing::TestWithParam<json> {};

TEST_P(LevelCase, IsReadAsTheTableSays) {
    const json& entry = GetParam();
    const std::string text = case_bytes(entry);
    if (entry.contains("numbers")) {
        const Level level = read_level(text);
        EXPECT_EQ(numbers(*level.world), entry["numbers"]);
        return;
    }
    try {
        read_level(text);
        FAIL() << "read without a fault";
    } catch (const LevelError& error) {
        const std::optional<std::string> path =
            entry["path"].is_null() ? std::nullopt : std::optional<std::string>(entry["path"].get<std::string>());
        EXPECT_EQ(error.path, path);
        EXPECT_EQ(error.expected, entry["expected"].get<std::string>());
        EXPECT_EQ(error.found, entry["found"].get<std::string>());
        const std::string where = !path ? "" : (path->empty() ? "(top level)" : *path) + ": ";
        EXPECT_EQ(error.what(), where + "expected " + error.expected + ", found " + *error.found);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LevelCase, ::testing::ValuesIn(level_cases()),
                         [](const ::testing::TestParamInfo<json>& info) { return info.param["name"].get<std::string>(); });

// The toolkit saved levels with Python's json.dumps(indent=2, ensure_ascii=False): the same world
// written again gives the same bytes, numbers and escapes included.
TEST(LevelFile, WritesLevelsAsTheToolkitSavedThem) {
    const std::string saved = file_text("saved_by_python.json");
    const Level level = read_level(saved);
    ASSERT_TRUE(level.title);
    EXPECT_EQ(write_level(*level.world, *level.title, level.description), saved);
}

// A level read gives the world built by hand, zone by zone in the same order, so the runs agree.
TEST(LevelFile, ReadsTheWorldThatWasBuiltByHand) {
    const Level level = read_level(R"({"format": 1, "title": "t", "world": {"id": "R",
      "agents": [{"name": "Equals Gate", "visual_id": "gate", "target_value": 5}],
      "sub_environments": [{"id": "S", "charges": [
          {"magnitude": 2, "polarity": "positive", "visual_id": "a"},
          {"magnitude": 3, "polarity": "positive", "visual_id": "b"}],
        "agents": [{"name": "plus", "visual_id": "p"}]}]}})");
    EXPECT_EQ(level.title, "t");
    EXPECT_EQ(level.description, "");
    EXPECT_FALSE(level.frame);
    NarrativeSequencer read(level.world), built(worked_world());
    for (int frame = 1; frame <= 5; ++frame) {
        TextWriter one, other;
        read.write_next_frame(one);
        built.write_next_frame(other);
        EXPECT_EQ(one.str(), other.str()) << "frame " << frame;
    }
}

// A frame report gives its world, frame, status and event; the next report continues from there.
TEST(LevelFile, ReadsAFrameReport) {
    NarrativeSequencer sequencer(worked_world());
    std::vector<std::string> reports;
    for (int frame = 1; frame <= 3; ++frame) {
        TextWriter text;
        sequencer.write_next_frame(text);
        reports.push_back(text.str());
    }
    const Level level = read_level(reports[1]);
    EXPECT_FALSE(level.title);
    EXPECT_EQ(level.frame, 2);
    EXPECT_EQ(level.status, json::parse(reports[1])["meta"]["status"]);
    ASSERT_TRUE(level.event);
    const json event = json::parse(reports[1])["meta"]["last_event"];
    EXPECT_EQ(level.event->agent_name, event["agent_name"]);
    EXPECT_EQ(level.event->visual_id, event["visual_id"]);
    EXPECT_EQ(level.event->type, event["type"]);
    EXPECT_EQ(level.event->description, event["description"]);
    NarrativeSequencer resumed(level.world);
    resumed.current_frame = *level.frame;
    TextWriter next;
    resumed.write_next_frame(next);
    EXPECT_EQ(json::parse(next.str()).erase("meta"), json::parse(reports[2]).erase("meta"));
    EXPECT_FALSE(read_level(R"({"id": "r", "meta": {"frame_index": 0, "last_event": null}})").event);
}

// Worlds of hostile numbers and texts, every kind of agent, nested and frozen zones.
std::shared_ptr<Environment> random_world(std::mt19937_64& random) {
    static const double kNumbers[] = {0.0, -0.0, 5e-324, -1e-310, std::numeric_limits<double>::max(),
                                      -std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                      0.1, 0.30000000000000004, 1e16, 1e15, 9007199254740993.0, 1e-5, 1e-4, 123456.789,
                                      1e22, 1e21, -2.5};
    static const std::string kTexts[] = {"", "a", "quote \" and \\ backslash", "tab\tnew\nline\r\b\f", std::string("nul\0in", 6),
                                         "\x01\x1f\x7f", "\xC3\xA9t\xC3\xA9", "\xE2\x80\xA8\xE2\x80\xA9", "\xF0\x9F\x98\x80",
                                         "\xEF\xBB\xBF", "{\"id\": []}"};
    const auto pick_number = [&]() -> double {
        if (random() % 3 != 0) return kNumbers[random() % std::size(kNumbers)];
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return std::isnan(value) ? 1.0 : value;
    };
    const auto pick_text = [&] { return kTexts[random() % std::size(kTexts)] + std::to_string(random() % 3); };
    auto root = std::make_shared<Environment>(pick_text());
    std::vector<std::pair<Environment*, int>> pending{{root.get(), 0}};
    while (!pending.empty()) {
        auto [zone, depth] = pending.back();
        pending.pop_back();
        for (std::size_t i = random() % 5; i > 0; --i) {
            zone->add_charge(Charge(pick_number(), static_cast<ChargePolarity>(random() % 3), pick_text()));
        }
        for (std::size_t i = random() % 4; i > 0; --i) {
            const AgentKind& kind = agent_kinds()[random() % agent_kinds().size()];
            zone->add_magician(kind.make(pick_text(), pick_number(), judge_rules()[random() % judge_rules().size()]));
        }
        for (std::size_t i = depth < 4 ? random() % 4 : 0; i > 0; --i) {
            auto sub = std::make_shared<Environment>(pick_text());
            zone->add_environment(sub);
            pending.push_back({sub.get(), depth + 1});
        }
        zone->is_time_frozen = random() % 2 == 0;
    }
    return root;
}

std::uint64_t bits_of(double value) {
    if (std::isnan(value)) return 0x7FF8000000000000u;  // a NaN's sign and payload are not kept
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// What a level file keeps of a world: zone by zone (with no recursion, for deep worlds), the ids,
// charges and agents as the engine writes them, numbers to the bit, and the freeze flags the engine
// writes.
void expect_same_world(const Environment& written, const Environment& read) {
    const auto one = zones(written), other = zones(read);
    ASSERT_EQ(one.size(), other.size());
    for (std::size_t z = 0; z < one.size(); ++z) {
        const Environment &a = *one[z], &b = *other[z];
        EXPECT_EQ(a.id, b.id);
        ASSERT_EQ(a.sub_environments.size(), b.sub_environments.size());
        EXPECT_EQ(!a.sub_environments.empty() && a.is_time_frozen, b.is_time_frozen) << a.id;
        ASSERT_EQ(a.charges.size(), b.charges.size());
        for (std::size_t i = 0; i < a.charges.size(); ++i) {
            EXPECT_EQ(a.charges[i].visual_id, b.charges[i].visual_id);
            EXPECT_EQ(a.charges[i].polarity, b.charges[i].polarity);
            EXPECT_EQ(bits_of(a.charges[i].magnitude), bits_of(b.charges[i].magnitude)) << a.charges[i].magnitude;
        }
        ASSERT_EQ(a.agents.size(), b.agents.size());
        for (std::size_t i = 0; i < a.agents.size(); ++i) {
            EXPECT_EQ(a.agents[i]->to_json().dump(), b.agents[i]->to_json().dump());
            EXPECT_EQ(bits_of(target_of(*a.agents[i]).value_or(0.0)), bits_of(target_of(*b.agents[i]).value_or(0.0)));
        }
    }
}

TEST(LevelFile, WorldsWrittenAreReadBackBitForBit) {
    std::mt19937_64 random(20251209);
    for (int world = 0; world < 300; ++world) {
        SCOPED_TRACE("world " + std::to_string(world));
        const auto written = random_world(random);
        const std::string title = "title " + std::to_string(world) + " \"\xC3\xA9\"\n", about = "about\t\\";
        const std::string text = write_level(*written, title, about);
        ASSERT_EQ(text.back(), '\n');
        const Level level = read_level(text);
        EXPECT_EQ(level.title, title);
        EXPECT_EQ(level.description, about);
        expect_same_world(*written, *level.world);
        EXPECT_EQ(write_level(*level.world, title, about), text);
    }
    try {
        write_level(Environment("id \xC3\xA9 \xFF"), "t", "");
        FAIL() << "wrote a zone id that is not UTF-8";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "write_level: a zone's id is not UTF-8 text (the byte 0xFF at offset 6)");
    }
    // Ids holding "/": accepted zones are written when their paths name them alone, else refused.
    const Level puzzle = read_level(R"({"format": 1, "title": "t", "description": "", "pieces": [{"name": "plus", "visual_id": "p"}], "accepts": ["r/a/b", "r/c[1]"],
        "world": {"id": "r", "sub_environments": [{"id": "a/b"}, {"id": "c[1]"}, {"id": "a"}]}})");
    EXPECT_EQ(read_level(write_level(*puzzle.world, "t", "", puzzle.tray)).tray.accepts, puzzle.tray.accepts);
    puzzle.world->sub_environments[2]->add_environment(std::make_shared<Environment>("b"));
    EXPECT_THROW(write_level(*puzzle.world, "t", "", puzzle.tray), std::invalid_argument);
}

// Chains too deep to indent are written on one line; the deepest are read and written with no
// recursion.
TEST(LevelFile, DeepChainsAreWrittenAndReadBack) {
    for (const int depth : {400, 600, 100'000}) {
        auto root = std::make_shared<Environment>("z");
        Environment* last = root.get();
        for (int i = 0; i < depth; ++i) {
            auto sub = std::make_shared<Environment>("z" + std::to_string(i));
            last->add_environment(sub);
            last = sub.get();
        }
        last->add_charge(Charge(-0.0, ChargePolarity::NEGATIVE, "deepest"));
        const std::string text = write_level(*root, "deep", "");
        const auto lines = std::count(text.begin(), text.end(), '\n');
        EXPECT_TRUE(depth < 498 ? lines > 5 * depth : lines == 1) << depth << " zones deep: " << lines << " lines";
        const Level level = read_level(text);
        expect_same_world(*root, *level.world);
        EXPECT_EQ(write_level(*level.world, "deep", ""), text);
    }
}

}  // namespace
}  // namespace orv
