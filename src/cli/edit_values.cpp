#include "cli/edit_values.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Digits with an optional fraction: a point and any number of digits.
bool decimal(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return allDigits(text);
    const std::string fraction = text.substr(point + 1);
    return allDigits(text.substr(0, point)) && (fraction.empty() || allDigits(fraction));
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        pieces.push_back(text.substr(start, at - start));
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// M:SS or H:MM:SS, the seconds with an optional fraction, MM and SS two digits below 60.
bool parseTimecode(const std::string& text, double& seconds, std::string& why) {
    const std::vector<std::string> fields = split(text, ':');
    if (fields.size() < 2 || fields.size() > 3) return false;
    const std::string& last = fields.back();
    const std::string whole = last.substr(0, last.find('.'));
    if (!decimal(last) || whole.size() != 2 || !allDigits(fields[0])) return false;
    if (fields.size() == 3 && (fields[1].size() != 2 || !allDigits(fields[1]))) return false;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string twoDigits = fields[i].substr(0, 2);
        if (std::atoi(twoDigits.c_str()) >= 60) {
            why = twoDigits + " is not below 60";
            return false;
        }
    }
    double value = std::strtod(last.c_str(), nullptr);
    double unit = 60.0;
    for (std::size_t i = fields.size() - 1; i-- > 0; unit *= 60.0) {
        value += unit * std::strtod(fields[i].c_str(), nullptr);
    }
    seconds = value;
    return true;
}

}  // namespace

bool parseTime(const std::string& text, double& seconds, std::string& why) {
    why = "not a time";
    const bool ms = text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0;
    const std::string number = ms ? text.substr(0, text.size() - 2) : text;
    if (decimal(number)) {
        seconds = std::strtod(number.c_str(), nullptr) / (ms ? 1000.0 : 1.0);
    } else if (ms || !parseTimecode(text, seconds, why)) {
        return false;
    }
    if (!std::isfinite(seconds)) {
        why = "not finite";
        return false;
    }
    if (seconds > longestTime) {
        why = "over 360000 s";
        return false;
    }
    return true;
}

double positionalTime(const char* text) {
    double seconds = 0.0;
    std::string why;
    return parseTimecode(text, seconds, why) ? seconds : std::atof(text);
}

bool listTime(const std::string& text, double& seconds, std::string& why) {
    if (parseTime(text, seconds, why)) return true;
    why = (text.empty() ? "an empty time" : text) + ": " + why;
    return false;
}

namespace {

// How a list reads its times: the time syntax, or frame numbers.
using TimeReader = std::function<bool(const std::string&, double&, std::string&)>;

bool parseParts(const std::string& list, Plan& plan, std::string& why, const TimeReader& read) {
    plan.kind = Plan::Kind::ranges;
    double last = 0.0;
    bool openBefore = false;
    for (const std::string& piece : split(list, ',')) {
        const bool joins = !piece.empty() && piece[0] == '+';
        const std::string range = piece.substr(joins ? 1 : 0);
        const std::size_t dash = range.find('-');
        if (dash == std::string::npos || range.find('-', dash + 1) != std::string::npos) {
            why = (piece.empty() ? "an empty range" : piece) + ": not a range A-B";
            return false;
        }
        PlanItem item;
        const std::string from = range.substr(0, dash), to = range.substr(dash + 1);
        if (!from.empty() && !read(from, item.from, why)) return false;
        item.openEnd = to.empty();
        if (!item.openEnd && !read(to, item.to, why)) return false;
        if (joins && plan.outputs.empty()) {
            why = piece + ": no range before it to join";
            return false;
        }
        if (openBefore || item.from < last || (!item.openEnd && item.to < item.from)) {
            why = "ranges must ascend";
            return false;
        }
        if (!joins) plan.outputs.emplace_back();
        plan.outputs.back().push_back(item);
        last = item.openEnd ? item.from : item.to;
        openBefore = item.openEnd;
    }
    plan.numbered = plan.outputs.size() > 1;
    return true;
}

bool parsePoints(const std::string& list, Plan& plan, std::string& why, const TimeReader& read) {
    plan.kind = Plan::Kind::points;
    plan.numbered = true;
    for (const std::string& piece : split(list, ',')) {
        double point = 0.0;
        if (!read(piece, point, why)) return false;
        if (!plan.points.empty() && point <= plan.points.back()) {
            why = "times must ascend";
            return false;
        }
        plan.points.push_back(point);
    }
    return true;
}

bool parseDuration(const std::string& text, Plan& plan, std::string& why) {
    plan.kind = Plan::Kind::points;
    plan.numbered = true;
    if (!listTime(text, plan.every, why)) return false;
    // Shorter parts than a millisecond would only count up empty ones, by the million.
    if (plan.every < 0.001) {
        why = "shorter than 1 ms";
        return false;
    }
    return true;
}

}  // namespace

bool parseSplit(const std::string& text, Plan& plan, std::string& why, const FrameRate& fps) {
    const std::size_t colon = text.find(':');
    const std::string mode = text.substr(0, colon == std::string::npos ? 0 : colon);
    const std::string values = colon == std::string::npos ? "" : text.substr(colon + 1);
    const TimeReader frames = [&fps](const std::string& piece, double& seconds, std::string& why) {
        if (frameTime(piece, fps, seconds, why)) return true;
        why = (piece.empty() ? "an empty frame number" : piece) + ": " + why;
        return false;
    };
    if (splitsAtFrames(text) && !fps.given()) {
        why = "frame numbers need --fps";
        return false;
    }
    if (mode == "parts") return parseParts(values, plan, why, listTime);
    if (mode == "parts-frames") return parseParts(values, plan, why, frames);
    if (mode == "timestamps") return parsePoints(values, plan, why, listTime);
    if (mode == "frames") return parsePoints(values, plan, why, frames);
    if (mode == "duration") return parseDuration(values, plan, why);
    why = "the mode is parts:, parts-frames:, timestamps:, frames: or duration:";
    return false;
}

bool splitsAtFrames(const std::string& text) {
    const std::string mode = text.substr(0, text.find(':'));
    return mode == "parts-frames" || mode == "frames";
}

bool parseFps(const std::string& text, FrameRate& fps, std::string& why) {
    why = "not a frame rate";
    const std::size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const std::string n = text.substr(0, slash), d = text.substr(slash + 1);
        if (!allDigits(n) || !allDigits(d)) return false;
        fps = {std::strtod(n.c_str(), nullptr), std::strtod(d.c_str(), nullptr)};
    } else if (text == "23.976" || text == "29.97" || text == "59.94") {
        fps = {text == "23.976" ? 24000.0 : text == "29.97" ? 30000.0 : 60000.0, 1001.0};
    } else if (decimal(text)) {
        fps = {std::strtod(text.c_str(), nullptr), 1.0};
    } else {
        return false;
    }
    if (!(fps.n > 0.0 && fps.d > 0.0 && std::isfinite(fps.n) && std::isfinite(fps.d))) {
        why = "not above 0";
        return false;
    }
    return true;
}

bool frameTime(const std::string& text, const FrameRate& fps, double& seconds, std::string& why) {
    if (!allDigits(text)) {
        why = "not a frame number";
        return false;
    }
    seconds = fps.time(std::strtod(text.c_str(), nullptr));
    if (!(seconds <= longestTime)) {
        why = "over 360000 s";
        return false;
    }
    return true;
}
