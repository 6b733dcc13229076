// The direct text writer against dump() of the document built from the same state: random worlds with
// hostile strings and numbers, stepped frame by frame, texts and failures compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"
#include "model/json_text.h"
#include "model/text_writer.h"
#include "sequencer/sequencer.h"

namespace orv {
namespace {

using Zone = std::shared_ptr<Environment>;

// Names that the writer must copy, escape or refuse exactly as dump() does.
std::vector<std::string> hostile_strings() {
    std::vector<std::string> names = {
        "", "plain", "with space", "quote\"d", "back\\slash", "slash/", std::string("nul\0in", 6), "del\x7f",
        // invalid UTF-8 at the start, in the middle and at the end
        "\xff" "abc", "ab\xff" "cd", "abc\xff", "\x80", "ab\x80",
        // truncated sequences
        "\xc3", "ab\xe2\x82", "\xf0\x9f\x98", "x\xf0\x9f\x98y", "\xe2\x82" "abc",
        // overlong forms, surrogates, beyond U+10FFFF, bytes that never occur
        "\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xf0\x80\x80\xaf", "\xed\xa0\x80", "\xed\xbf\xbf",
        "a\xed\xa0\x80\xed\xb0\x80", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xfe", "\xf8\x88\x80\x80\x80",
        // valid non-ASCII: two, three and four bytes, the largest code point, and U+2028
        "caf\xc3\xa9", "\xe2\x82\xac" "5", "\xf0\x9f\x98\x80", "\xe6\x97\xa5\xe6\x9c\xac", "\xf4\x8f\xbf\xbf",
        "\xe2\x80\xa8", "\xc3\xa9\n\"", std::string(700, 'x') + "\x01", std::string(600, 'y'),
    };
    for (int c = 0; c < 0x20; ++c) names.push_back("c" + std::string(1, static_cast<char>(c)) + "c");
    return names;
}

std::vector<double> hostile_numbers() {
    const double inf = std::numeric_limits<double>::infinity();
    return {std::nan(""), -std::nan(""), inf, -inf, 0.0, -0.0, 5e-324, -5e-324, 1e-310, 2.2250738585072014e-308,
            1e308, std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 9007199254740992.0,
            9007199254740994.0, 1152921504606846976.0, 123456789012345678.0, 1e15, 1e16, 1e17, 1e21, 1e22, 1e-5,
            1e-7, 0.1, 1.0 / 3.0, -2.5, 3.0, 1e100, -1e-300, 4.35, 1e-4, 123456.789};
}

// Builds the same world every time from the same seed, so that two copies can be stepped side by side.
class WorldMaker {
public:
    explicit WorldMaker(std::uint64_t seed) : random_(seed) {
        const int mood = pick(4);  // how often a string or number is hostile: never, rarely, often, always
        hostile_rate_ = mood == 0 ? 0.0 : mood == 1 ? 0.02 : mood == 2 ? 0.3 : 1.0;
    }

    Zone world() {
        std::vector<Zone> zones{zone()};
        const int shape = pick(4);
        const int count = shape == 0 ? 1 + pick(4) : shape == 1 ? 1 + pick(150) : 1 + pick(60);
        for (int i = 1; i < count; ++i) {
            Zone next = zone();
            // deep: under the last zone; wide: under the root; mixed: under any earlier zone
            Zone& parent = shape == 1 ? zones.back() : shape == 2 ? zones.front() : zones[pick(static_cast<int>(zones.size()))];
            parent->add_environment(next);
            zones.push_back(next);
        }
        // shared: zones that sit in more than one place
        for (int extra = pick(3); extra > 0 && zones.size() > 2; --extra) {
            const Zone& shared = zones[1 + pick(static_cast<int>(zones.size()) - 1)];
            const Zone& parent = zones[pick(static_cast<int>(zones.size()))];
            if (!shared->holds_in_subtree(parent.get())) parent->add_environment(shared);
        }
        return zones.front();
    }

    void shape_sequencer(NarrativeSequencer& sequencer) {
        sequencer.max_frames = 1 + pick(40);
        if (pick(4) == 0) sequencer.current_frame = -pick(5);
    }

    int pick(int bound) { return static_cast<int>(random_() % static_cast<std::uint64_t>(bound)); }

private:
    bool hostile() { return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < hostile_rate_; }

    std::string name(const char* prefix) {
        if (hostile()) return strings_[pick(static_cast<int>(strings_.size()))];
        return prefix + std::to_string(counter_++);
    }

    double number() {
        if (hostile()) {
            if (pick(4) == 0) {  // any bit pattern, NaN payloads and subnormals included
                const std::uint64_t bits = random_();
                double value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
            return numbers_[pick(static_cast<int>(numbers_.size()))];
        }
        return static_cast<double>(pick(2000)) / 8.0 - 50.0;
    }

    Zone zone() {
        auto made = std::make_shared<Environment>(name("zone_"));
        for (int i = pick(4) == 0 ? 0 : pick(6); i > 0; --i) {
            made->add_charge(Charge(number(), static_cast<ChargePolarity>(pick(3)), name("c")));
        }
        for (int i = pick(3) == 0 ? 0 : pick(4); i > 0; --i) made->add_magician(agent());
        made->is_time_frozen = pick(2) == 0;
        return made;
    }

    std::shared_ptr<MagicianAgent> agent() {
        std::shared_ptr<MagicianAgent> made;
        const std::string id = name("a");
        switch (pick(14)) {
            case 0: made = std::make_shared<PlusMagician>(id); break;
            case 1: made = std::make_shared<MinusMagician>(id); break;
            case 2: made = std::make_shared<MultiplyMagician>(id); break;
            case 3: made = std::make_shared<DivideMagician>(id); break;
            case 4: made = std::make_shared<PowerSorcerer>(id); break;
            case 5: made = std::make_shared<RootMagician>(id); break;
            case 6: made = std::make_shared<LogMagician>(id); break;
            case 7: made = std::make_shared<ModuloMagician>(id); break;
            case 8: made = std::make_shared<AbsMagician>(id); break;
            case 9: made = std::make_shared<FactorialMagician>(id); break;
            case 10: made = std::make_shared<Chronomancer>(id); break;
            case 11: {
                auto gate = std::make_shared<EqualsGate>(id, number());
                gate->is_open = pick(2) == 0;
                made = gate;
                break;
            }
            default: {
                auto judge = std::make_shared<InequalityGate>(id, number(),
                                                              static_cast<InequalityGate::ComparisonType>(pick(4)));
                judge->is_open = pick(2) == 0;
                made = judge;
            }
        }
        if (hostile()) {
            const std::int32_t priorities[] = {std::numeric_limits<std::int32_t>::min(), -1, 0,
                                               std::numeric_limits<std::int32_t>::max()};
            made->priority = priorities[pick(4)];
        }
        if (hostile()) made->name = name("n");
        made->state = static_cast<AgentState>(pick(3));
        return made;
    }

    std::mt19937_64 random_;
    double hostile_rate_;
    int counter_ = 0;
    const std::vector<std::string> strings_ = hostile_strings();
    const std::vector<double> numbers_ = hostile_numbers();
};

// A text, or the failure that ended it: exception type, the library's id where it has one, message.
struct Outcome {
    std::string text;
    bool ascii = true;
};

std::string describe(const std::exception& error) {
    std::string kind = typeid(error).name();
    if (const auto* library = dynamic_cast<const nlohmann::json::exception*>(&error)) {
        kind += " id " + std::to_string(library->id);
    }
    return "failed: " + kind + ": " + error.what();
}

template <typename Write>
Outcome written(Write write) {
    try {
        TextWriter out;
        write(out);
        return {out.str(), out.ascii()};
    } catch (const std::exception& error) {
        return {describe(error), true};
    }
}

template <typename Build>
std::string dumped(Build build) {
    try {
        return to_text(build());
    } catch (const std::exception& error) {
        return describe(error);
    }
}

bool all_ascii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

void expect_same(const std::string& expected, const Outcome& got, const std::string& where) {
    ASSERT_EQ(got.text, expected) << where;
    ASSERT_EQ(got.ascii, all_ascii(got.text)) << where;
}

// Steps two copies of world `seed`, one through NextFrame and dump(), one through the writer, and
// compares every report, the root's and a sub-zone's text, and some charges' text.
void compare_world(std::uint64_t seed) {
    WorldMaker built(seed), twin(seed);
    NarrativeSequencer by_document(built.world()), by_writer(twin.world());
    built.shape_sequencer(by_document);
    twin.shape_sequencer(by_writer);
    // The root's, a sub-zone's and the root's charges' texts; before the first frame the zones still
    // hold the flags they were built with.
    const auto compare_texts = [&](const std::string& where) {
        Environment& root = *by_writer.root_environment;
        expect_same(dumped([&] { return by_document.root_environment->to_json(); }),
                    written([&](TextWriter& out) { root.write_json(out); }), where + ", root");
        if (!root.sub_environments.empty()) {
            const std::size_t i = static_cast<std::size_t>(built.pick(static_cast<int>(root.sub_environments.size())));
            expect_same(dumped([&] { return by_document.root_environment->sub_environments[i]->to_json(); }),
                        written([&](TextWriter& out) { root.sub_environments[i]->write_json(out); }), where + ", sub-zone");
        }
        for (const Charge& charge : root.charges) {
            expect_same(dumped([&] { return charge.to_json(); }),
                        written([&](TextWriter& out) { charge.write_json(out); }), where + ", charge");
        }
    };
    compare_texts("world " + std::to_string(seed) + " as built");
    for (int frame = 0; frame < 60; ++frame) {
        const std::string where = "world " + std::to_string(seed) + ", frame " + std::to_string(frame);
        const bool was_finished = by_document.is_finished;
        const std::string expected = dumped([&] { return by_document.NextFrame(); });
        expect_same(expected, written([&](TextWriter& out) { by_writer.write_next_frame(out); }), where);
        ASSERT_EQ(by_writer.current_frame, by_document.current_frame) << where;
        ASSERT_EQ(by_writer.is_finished, by_document.is_finished) << where;
        compare_texts(where);
        if (testing::Test::HasFatalFailure()) return;
        if (was_finished && frame > 2) break;
    }
}

std::uint64_t worlds_to_compare() {
    const char* asked = std::getenv("ORV_DIFF_WORLDS");
    return asked != nullptr ? std::strtoull(asked, nullptr, 10) : 60;
}

TEST(TextWriter, WritesWhatDumpWritesAtEveryFrameOfRandomWorlds) {
    const char* first = std::getenv("ORV_DIFF_SEED");
    const std::uint64_t start = first != nullptr ? std::strtoull(first, nullptr, 10) : 1;
    const std::uint64_t count = worlds_to_compare();
    for (std::uint64_t seed = start; seed < start + count; ++seed) {
        compare_world(seed);
        if (testing::Test::HasFatalFailure()) return;
    }
}

// Every hostile string and number alone in a charge: the writer's text, or its failure, is dump()'s.
TEST(TextWriter, WritesEveryHostileStringAndNumberAsDumpDoes) {
    for (const std::string& name : hostile_strings()) {
        for (const double number : hostile_numbers()) {
            const Charge charge(number, ChargePolarity::NEUTRAL, name);
            expect_same(dumped([&] { return charge.to_json(); }), written([&](TextWriter& out) { charge.write_json(out); }),
                        "name of " + std::to_string(name.size()) + " bytes, number " + std::to_string(number));
        }
    }
}

// Which string fails first is the first in the document's key order: the report's message before the
// sub-zones, a charge's id after the zone's agents.
TEST(TextWriter, FailsOnTheFirstBadStringInKeyOrder) {
    for (int layout = 0; layout < 4; ++layout) {
        auto root = std::make_shared<Environment>(layout == 0 ? "root\xff" : "root");
        auto sub = std::make_shared<Environment>(layout == 1 ? "\xc3(sub" : "sub");
        root->add_charge(Charge(1, ChargePolarity::POSITIVE, layout == 2 ? "charge\xe2\x82" : "charge"));
        root->add_magician(std::make_shared<Chronomancer>(layout == 3 ? "time\xed\xa0\x80" : "time"));
        root->add_environment(sub);
        sub->add_charge(Charge(1, ChargePolarity::POSITIVE, "x\x80"));
        NarrativeSequencer document(root);
        const std::string expected = dumped([&] { return document.generate_response("RUNNING", "message\xff"); });
        EXPECT_EQ(written([&](TextWriter& out) { document.write_response(out, "RUNNING", "message\xff"); }).text,
                  expected);
        EXPECT_EQ(written([&](TextWriter& out) { root->write_json(out); }).text, dumped([&] { return root->to_json(); }));
    }
}

// The depth and size refusals come before any text, with dump()'s messages; the frame is applied.
TEST(TextWriter, RefusesWhatTheDocumentPathRefuses) {
    if (writable_depth() < kMaxTextDepth) GTEST_SKIP() << "this thread's stack cannot write the deepest documents";
    for (const std::size_t zones : {kMaxTextDepth / 2 - 1, kMaxTextDepth / 2, kMaxTextDepth / 2 + 1}) {
        const auto chain = [zones] {
            std::vector<Zone> links{std::make_shared<Environment>("bad\xff")};
            for (std::size_t i = 1; i < zones; ++i) {
                links.push_back(std::make_shared<Environment>("z"));
                links[i - 1]->add_environment(links[i]);
            }
            links.back()->add_charge(Charge(2, ChargePolarity::POSITIVE, "a"));
            links.back()->add_charge(Charge(3, ChargePolarity::POSITIVE, "b"));
            links.back()->add_magician(std::make_shared<PlusMagician>("p"));
            return links.front();
        };
        NarrativeSequencer by_document(chain()), by_writer(chain());
        const std::string expected = dumped([&] { return by_document.NextFrame(); });
        EXPECT_EQ(written([&](TextWriter& out) { by_writer.write_next_frame(out); }).text, expected) << zones;
        EXPECT_EQ(by_writer.current_frame, 1);
        EXPECT_NE(expected.find(zones > kMaxTextDepth / 2 - 1 ? "levels deep" : "invalid UTF-8"), std::string::npos)
            << expected;
    }
    // A zone held twice at every level: 2^25 places, refused before the frame runs.
    auto top = std::make_shared<Environment>("top");
    for (int level = 0; level < 25; ++level) {
        auto parent = std::make_shared<Environment>("p");
        parent->add_charge(Charge(1, ChargePolarity::POSITIVE, "c"));
        parent->add_environment(top);
        parent->add_environment(top);
        top = parent;
    }
    NarrativeSequencer by_document(top), by_writer(top);
    const std::string expected = dumped([&] { return by_document.NextFrame(); });
    EXPECT_EQ(written([&](TextWriter& out) { by_writer.write_next_frame(out); }).text, expected);
    EXPECT_NE(expected.find("would hold more than"), std::string::npos) << expected;
    EXPECT_EQ(by_writer.current_frame, 0);
}

// The poll runs about once per interval of text; what it throws ends the writing after the frame.
TEST(TextWriter, PollsWhileWritingAndStopsOnWhatThePollThrows) {
    auto root = std::make_shared<Environment>("big");
    for (int i = 0; i < 100000; ++i) root->add_charge(Charge(i + 0.5, ChargePolarity::POSITIVE, "charge_" + std::to_string(i)));
    root->add_magician(std::make_shared<AbsMagician>("first"));
    root->add_magician(std::make_shared<AbsMagician>("second"));
    NarrativeSequencer sequencer(root);

    std::size_t polls = 0;
    TextWriter counted(0, [&polls] { ++polls; });
    sequencer.write_next_frame(counted);
    // Each poll comes at the first value boundary past its interval, so the count may lag by one.
    EXPECT_LE(polls, counted.size() / TextWriter::kPollInterval) << counted.size();
    EXPECT_GE(polls + 1, counted.size() / TextWriter::kPollInterval) << counted.size();
    EXPECT_GE(polls, 4u);

    struct Interrupted {};
    TextWriter stopped(0, [] { throw Interrupted{}; });
    EXPECT_THROW(sequencer.write_next_frame(stopped), Interrupted);
    EXPECT_EQ(sequencer.current_frame, 2);
    EXPECT_TRUE(root->agents.empty()) << "the second frame's cast is applied";
    EXPECT_LT(stopped.size(), TextWriter::kPollInterval + 4096);
}


// How deeply the brackets of a JSON text nest, strings skipped.
std::size_t bracket_depth(const char* text, std::size_t size) {
    std::size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// The depth bound holds for the text as written: a poll that deepens the world after the check made
// before writing (a chain hung under the root, a first charge in the deepest zone) ends the writing
// with the same refusal, and no level past the bound is ever opened.
TEST(TextWriter, HoldsTheDepthBoundWhenThePollDeepensTheWorld) {
    const std::size_t deepest_zones = (kMaxTextDepth - 2) / 2;  // empty zones below the root that still fit
    for (const bool first_charge : {false, true}) {
        auto root = std::make_shared<Environment>("root");
        for (int i = 0; i < 40000; ++i) root->add_charge(Charge(i + 0.5, ChargePolarity::POSITIVE, "charge_" + std::to_string(i)));
        std::vector<Zone> chain{std::make_shared<Environment>("z")};
        for (std::size_t i = 1; i < deepest_zones + (first_charge ? 0 : 1); ++i) {
            chain.push_back(std::make_shared<Environment>("z"));
            chain[i - 1]->add_environment(chain[i]);
        }
        if (first_charge) root->add_environment(chain.front());
        bool deepened = false;
        TextWriter out(0, [&] {
            if (deepened) return;
            deepened = true;
            if (first_charge) chain.back()->add_charge(Charge(1, ChargePolarity::POSITIVE, "late"));
            else root->add_environment(chain.front());
        });
        NarrativeSequencer sequencer(root);
        const std::string depth = std::to_string(kMaxTextDepth + (first_charge ? 1 : 2));
        try {
            if (first_charge) {
                sequencer.write_next_frame(out);
            } else {
                root->write_json(out);
            }
            ADD_FAILURE() << "the deepened world was written whole";
        } catch (const std::length_error& refused) {
            EXPECT_EQ(std::string(refused.what()).rfind("cannot write a JSON document nested " + depth + " levels deep: at most " +
                                                            std::to_string(kMaxTextDepth) + " levels",
                                                        0),
                      0u)
                << refused.what();
        }
        EXPECT_TRUE(deepened);
        EXPECT_EQ(bracket_depth(out.data(), out.size()), kMaxTextDepth) << first_charge;
    }
}

}  // namespace
}  // namespace orv
