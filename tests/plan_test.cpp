// The time syntax, the --split and --edit values, and the seams they give on step boundaries
// made up for the test, without the program around them.
#include "cli/plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli/edit_values.h"
#include "cli/edits.h"
#include "plan_guarantees.h"

namespace {

TEST(PlanTest, ReadsTimes) {
    const std::string nines(400, '9');
    const struct {
        const char* text;
        double seconds;  // or
        const char* why;
    } rows[] = {
        {"83.5", 83.5, ""},
        {"1:23.5", 83.5, ""},
        {"1:02:03.250", 3723.25, ""},
        {"250ms", 0.25, ""},
        {"0.5ms", 0.0005, ""},
        {"100:00", 6000, ""},
        {"5.", 5, ""},
        {"0:59.999999", 59.999999, ""},
        {"360000", 360000, ""},
        {"100:00:00", 360000, ""},
        {"1:60", 0, "60 is not below 60"},
        {"1:02:60", 0, "60 is not below 60"},
        {"1:60:00", 0, "60 is not below 60"},
        {"1:7", 0, "not a time"},
        {"1:2:03", 0, "not a time"},
        {"1:02:03:04", 0, "not a time"},
        {"-1", 0, "not a time"},
        {"+1", 0, "not a time"},
        {" 1", 0, "not a time"},
        {"1e3", 0, "not a time"},
        {".5", 0, "not a time"},
        {"", 0, "not a time"},
        {"ms", 0, "not a time"},
        {"1:00ms", 0, "not a time"},
        {"abc", 0, "not a time"},
        {"360000.001", 0, "over 360000 s"},
        {"100:00:00.1", 0, "over 360000 s"},
        {"1000000000ms", 0, "over 360000 s"},
        {nines.c_str(), 0, "not finite"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        double seconds = -1;
        std::string why;
        EXPECT_EQ(parseTime(row.text, seconds, why), *row.why == '\0');
        if (*row.why == '\0') {
            EXPECT_DOUBLE_EQ(seconds, row.seconds);
        } else {
            EXPECT_EQ(why, row.why);
        }
    }
    // The positional times: only a whole timecode is read anew.
    for (const auto& [text, seconds] :
         std::vector<std::pair<const char*, double>>{{"1:02:03", 3723},
                                                     {"1:23.5", 83.5},
                                                     {"83.5", 83.5},
                                                     {"1:75", 1},
                                                     {"abc", 0},
                                                     {"1,5", 1},
                                                     {"250ms", 250},
                                                     {"-1.5", -1.5},
                                                     {"1:02:03x", 1}}) {
        EXPECT_DOUBLE_EQ(positionalTime(text), seconds) << text;
    }
}

// What each output gets over steps of `step` seconds, `count` of them: the runs of input
// steps as "A-B" (their boundaries, in seconds), silent steps as "+k", joined by spaces.
std::vector<std::string> seamsOver(const Plan& plan, double step, int count) {
    Seams seams(plan);
    std::vector<std::string> outputs;
    std::vector<double> runEnd;
    const auto add = [&](const Placement& p, double start, double end) {
        if (outputs.size() <= p.output) {
            outputs.resize(p.output + 1);
            runEnd.resize(p.output + 1, -1.0);
        }
        std::string& text = outputs[p.output];
        char piece[64];
        if (p.silentSteps > 0) {
            std::snprintf(piece, sizeof piece, "%s+%llu", text.empty() ? "" : " ",
                          static_cast<unsigned long long>(p.silentSteps));
            text += piece;
            runEnd[p.output] = -1.0;
        }
        if (!p.withStep || p.leftOut) return;
        if (runEnd[p.output] == start) {
            text.erase(text.rfind('-') + 1);
        } else {
            std::snprintf(piece, sizeof piece, "%s%.3f-", text.empty() ? "" : " ", start);
            text += piece;
        }
        std::snprintf(piece, sizeof piece, "%.3f", end);
        text += piece;
        runEnd[p.output] = end;
    };
    double time = 0.0;
    for (int i = 0; i < count && !seams.done(); ++i) {
        const double end = step + time;
        for (const Placement& p : seams.step(time, end, step, i == 0 ? 0.0 : step))
            add(p, time, end);
        time = end;
    }
    if (!seams.done()) {
        for (const Placement& p : seams.finish(time, step)) add(p, time, time);
    }
    return outputs;
}

Plan split(const char* value) {
    Plan plan;
    std::string why;
    EXPECT_TRUE(parseSplit(value, plan, why)) << value << ": " << why;
    return plan;
}

Plan edits(std::vector<const char*> values) {
    Plan plan;
    std::string bad, why;
    EXPECT_TRUE(parseEdits(values, plan, bad, why)) << bad << ": " << why;
    return plan;
}

// 250 steps of 32 ms: an 8 s stream at 48 kHz; 32 ms is also the tie that milliseconds meet.
TEST(PlanTest, SeamsFallOnTheNearestBoundary) {
    const struct {
        const char* what;
        Plan plan;
        std::vector<std::string> outputs;
    } rows[] = {
        {"joined and separate ranges",
         split("parts:1-2,+3-4,5-"),
         {"0.992-1.984 2.976-3.968", "4.992-8.000"}},
        {"M:SS, H:MM:SS and ms",
         split("parts:0:01-0:00:02,+3000ms-4"),
         {"0.992-1.984 2.976-3.968"}},
        {"a tie goes to the earlier boundary", split("parts:0.016-0.048"), {"0.000-0.032"}},
        {"an open start and an open end", split("parts:-1,7.5-"), {"0.000-0.992", "7.488-8.000"}},
        // The first file ends a step late, so the second, which starts in sync, shares it.
        {"separate files share the step at their seam",
         split("parts:0.02-1,1-2"),
         {"0.032-1.024", "0.992-1.984"}},
        {"a range after the end adds nothing", split("parts:0-1,+9-10"), {"0.000-0.992"}},
        {"touching ranges", split("parts:0-0.5,+0.5-1"), {"0.000-0.992"}},
        {"timestamps", split("timestamps:2,4.5"), {"0.000-1.984", "1.984-4.512", "4.512-8.000"}},
        {"points on one boundary make empty parts",
         split("timestamps:1,1.001,1.002,3"),
         {"0.000-0.992", "", "", "0.992-3.008", "3.008-8.000"}},
        {"duration", split("duration:3"), {"0.000-3.008", "3.008-5.984", "5.984-8.000"}},
        {"insert and remove",
         edits({"3,-1", "1,+0.5"}),
         {"0.000-0.992 +16 0.992-2.976 4.000-8.000"}},
        {"silence in front: twins of the first step", edits({"0,+0.1"}), {"+3 0.000-8.000"}},
        {"silence after the end of the input", edits({"7.99,+0.2"}), {"0.000-8.000 +6"}},
        {"an edit after the end does nothing", edits({"9,+1", "20,-1"}), {"0.000-8.000"}},
        // The empty range between them still runs to nearest(Bs - d): one step, as d < 0.
        {"a window: the step ending at or after from to the first ending after to",
         Plan::window(1, 2),
         {"0.992-2.016"}},
        {"a window from 0", Plan::window(0, 0.5), {"0.000-0.512"}},
        {"a window to beyond the end", Plan::window(7, 1e6), {"6.976-8.000"}},
        {"a window after the end", Plan::window(9, 10), {""}},
        {"a delay: twins of the window's first step in front",
         Plan::window(1, 2, 0.1),
         {"+3 0.992-2.016"}},
        {"a negative delay: steps left out at its start",
         Plan::window(1, 2, -0.1),
         {"1.088-2.016"}},
        {"a delay longer than the window leaves out all of it", Plan::window(1, 2, -5), {""}},
        {"two silences at one time",
         edits({"2,+0.1", "2,+0.1"}),
         {"0.000-1.984 +3 1.984-2.016 +3 2.016-8.000"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> got = seamsOver(row.plan, 0.032, 250);
        got.resize(std::max(got.size(), row.outputs.size()));
        EXPECT_EQ(got, row.outputs);
    }
}

TEST(PlanTest, NamesNumberedFiles) {
    for (const auto& [name, numbered] : std::vector<std::pair<const char*, const char*>>{
             {"morvane_movie.ac3", "morvane_movie-001.ac3"},
             {"cut", "cut-001"},
             {"dir.v2/cut", "dir.v2/cut-001"},
             {"dir\\cut.eac3", "dir\\cut-001.eac3"},
             {".cut", ".cut-001"},
             {"out/.cut", "out/.cut-001"},
             {"a.b.ac3", "a.b-001.ac3"}}) {
        EXPECT_EQ(numberedName(name, 1), numbered);
    }
    EXPECT_EQ(numberedName("x.ac3", 1234), "x-1234.ac3");
}

}  // namespace

namespace {

// Random lists of up to nine ranges, joined and separate, touching and apart, and random edit
// lists, at 48, 44.1 (padded and unpadded frames) and 32 kHz: the guarantees hold for all.
// Random lists over 3000 steps: even ones --split parts, odd ones the shape of an --edit
// list (one output, silences between its ranges, the last running to the end).
Plan randomList(std::mt19937& random, int list) {
    const auto milliseconds = [&random](int most) {
        return std::uniform_int_distribution<int>(0, most)(random) / 1000.0;
    };
    Plan plan;
    plan.kind = Plan::Kind::ranges;
    double at = milliseconds(3000);
    const int ranges = 1 + list % 9;
    const bool editList = list % 2 == 1;
    for (int r = 0; r < ranges; ++r) {
        const bool joins = r > 0 && (editList || random() % 3 != 0);
        if (!joins) plan.outputs.emplace_back();
        if (joins && editList && random() % 2 == 0) {
            const double last = plan.outputs.back().back().to;
            plan.outputs.back().push_back({last, last, false, milliseconds(3000)});
        }
        PlanItem item;
        item.from = at;
        item.to = at + milliseconds(5000);
        item.openEnd = editList && r + 1 == ranges;
        plan.outputs.back().push_back(item);
        at = item.to + (random() % 2 == 0 ? 0.0 : milliseconds(4000));
    }
    return plan;
}

std::string listText(const Plan& plan) {
    std::string text;
    for (const auto& output : plan.outputs) {
        text += "|";
        for (const PlanItem& item : output) {
            text += item.isSilence()
                        ? " +" + std::to_string(item.silence)
                        : " " + std::to_string(item.from) + "-" + std::to_string(item.to);
        }
    }
    return text;
}

const std::vector<std::vector<double>>& randomListSteps() {
    static const std::vector<std::vector<double>> rates = {
        std::vector<double>(3000, 0.032),
        [] {
            std::vector<double> steps;
            for (int i = 0; i < 3000; ++i)
                steps.push_back(i % 3 == 0 ? 558 / 16000.0 : 556 / 16000.0);
            return steps;
        }(),
        std::vector<double>(3000, 0.048),
    };
    return rates;
}

TEST(PlanTest, GuaranteesHoldForRandomLists) {
    std::mt19937 random(2026);
    int lists = 0;
    for (const std::vector<double>& steps : randomListSteps()) {
        for (int list = 0; list < 1000; ++list, ++lists) {
            const Plan plan = randomList(random, list);
            ASSERT_EQ(brokenGuarantee(plan, steps), "") << "list " << list << listText(plan);
        }
    }
    EXPECT_EQ(lists, 3000);
}

std::string placementsText(const std::vector<Placement>& placements) {
    std::string text;
    for (const Placement& p : placements) {
        text += std::to_string(p.output) + (p.withStep ? "w" : "") + "+" +
                std::to_string(p.silentSteps) + (p.twinOfThisStep ? "t " : " ");
    }
    return text;
}

// A step that steadyStep() passes by is not given to step(): it must go where step() would
// have put it, the way the step before it went, muted or not, across seams, silences and
// muted stretches.
TEST(PlanTest, SteadyStepsGoWhereStepWouldPutThem) {
    std::mt19937 random(11);
    int passed = 0;
    for (const std::vector<double>& steps : randomListSteps()) {
        for (int list = 0; list < 300; ++list) {
            Plan plan = randomList(random, list);
            for (double at = 5.0; at < 80.0; at += 10.0 + random() % 20) {
                if (random() % 2 == 0) plan.mutes.emplace_back(at, at + (random() % 5000) / 1000.0);
            }
            Seams every(plan), steady(plan);
            std::string last;
            double time = 0.0, previous = 0.0;
            for (std::size_t i = 0; i < steps.size() && !every.done(); ++i) {
                const double end = time + steps[i];
                const std::string expected =
                    placementsText(every.step(time, end, steps[i], previous));
                const bool passes = i > 0 && steady.steadyStep(end);
                if (!passes) last = placementsText(steady.step(time, end, steps[i], previous));
                passed += passes;
                ASSERT_EQ(last, expected) << "list " << list << listText(plan) << ", step " << i;
                ASSERT_EQ(steady.muted(), every.muted()) << "list " << list << ", step " << i;
                time = end;
                previous = steps[i];
            }
        }
    }
    // Most steps lie between seams.
    EXPECT_GT(passed, 300 * 3 * 1000);
}

}  // namespace
