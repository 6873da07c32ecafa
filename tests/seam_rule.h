// The tests' own reading of the seam rule of --split and --edit, worked out over a whole
// walked stream at once rather than step by step as the program does.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "ac3_test_stream.h"

// A range of the input as the test asks it; a silence between ranges when `silence` >= 0.
struct Asked {
    double from = 0, to = 0;
    bool joins = false, open = false;
    double silence = -1;
};

// One frame of an output: the input's frame, or a silent twin of it.
struct Piece {
    std::size_t frame;
    bool twin;
};

// The input's time steps: B[j] is the end of step j (B[0] = 0), whose frames run from
// first[j] up to first[j + 1]. Frames before the first step go with it.
struct Steps {
    explicit Steps(const std::vector<ac3::Frame>& frames) {
        B.push_back(0.0);
        first.push_back(0);
        clock.push_back(0);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (!frames[i].steps) continue;
            B.push_back(frames[i].end);
            first.push_back(B.size() == 2 ? 0 : i);
            clock.push_back(i);
        }
        first.push_back(frames.size());
    }
    std::size_t count() const { return B.size() - 1; }
    // The earliest boundary of those whose distance to x is least, to within 1 us.
    std::size_t nearest(double x) const {
        std::size_t best = 0;
        for (std::size_t i = 1; i < B.size(); ++i) {
            if (std::fabs(B[i] - x) < std::fabs(B[best] - x) - 1e-6) best = i;
        }
        return best;
    }
    // Steps s + 1 to e, whole, or `steps` twins of step j.
    void add(std::vector<Piece>& out, std::size_t s, std::size_t e) const {
        for (std::size_t i = first[s + 1]; s < e && i < first[e + 1]; ++i)
            out.push_back({i, false});
    }
    void addTwins(std::vector<Piece>& out, std::size_t j, long steps) const {
        for (long k = 0; k < steps; ++k) {
            for (std::size_t i = first[j]; i < first[j + 1]; ++i) out.push_back({i, true});
        }
    }
    std::vector<double> B;
    std::vector<std::size_t> first;
    std::vector<std::size_t> clock;  // the frame that starts step j
};

struct Predicted {
    std::vector<std::vector<Piece>> outputs;
    std::size_t lastStep = 0;  // progress lines are due up to its end
};

// Ranges, joined or not, with silences between joined ones, by the seam rule.
inline Predicted ranges(const Steps& st, const std::vector<Asked>& asked,
                        const std::vector<ac3::Frame>& frames) {
    Predicted p;
    double d = 0;
    std::size_t e = 0;
    for (const Asked& a : asked) {
        if (a.silence >= 0) {
            const std::size_t j = e == 0 ? 1 : e;
            const double L = frames[st.clock[j]].duration;
            const long k = std::max(
                0L, static_cast<long>(std::floor((a.silence - d + st.B[e] - a.from) / L + 0.5)));
            st.addTwins(p.outputs.back(), j, k);
            d += k * L - a.silence;
            continue;
        }
        if (!a.joins) {
            p.outputs.emplace_back();
            d = 0;
            e = 0;
        }
        const std::size_t s = std::max(st.nearest(a.from + d), e);
        e = a.open ? st.count() : std::max(st.nearest(st.B[s] + (a.to - a.from) - d), s);
        d += (st.B[e] - st.B[s]) - ((a.open ? st.B[e] : a.to) - a.from);
        st.add(p.outputs.back(), s, e);
        p.lastStep = std::max(p.lastStep, e);
    }
    return p;
}

// The stretches between the points, each at nearest(T), never before the point before it.
inline Predicted points(const Steps& st, const std::vector<double>& at) {
    Predicted p;
    std::size_t s = 0;
    for (const double t : at) {
        const std::size_t e = std::max(st.nearest(t), s);
        p.outputs.emplace_back();
        st.add(p.outputs.back(), s, e);
        s = e;
    }
    p.outputs.emplace_back();
    st.add(p.outputs.back(), s, st.count());
    p.lastStep = st.count();
    return p;
}

// Mutes on the input's own clock: every step from nearest(first) to nearest(second) of each
// stretch plays as its own silent twin, wherever it went.
inline void mute(Predicted& p, const Steps& st,
                 const std::vector<std::pair<double, double>>& stretches) {
    for (std::vector<Piece>& output : p.outputs) {
        for (Piece& piece : output) {
            std::size_t j = 1;
            while (j < st.count() && st.first[j + 1] <= piece.frame) ++j;
            for (const auto& [from, to] : stretches) {
                if (st.nearest(from) <= j - 1 && j <= st.nearest(to)) piece.twin = true;
            }
        }
    }
}
