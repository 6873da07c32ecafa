#include "cli/list_files.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/edits.h"

bool readListFile(const char* name, std::string& text) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

namespace {

// The lines of a file: a UTF-8 byte order mark dropped, CR LF taken as LF, and a last line
// without a line end kept.
std::vector<std::string> linesOf(const std::string& text) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::size_t start = text.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
    std::vector<std::string> lines;
    std::size_t at = start;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        const std::size_t end = line.find_first_of(" \t", at);
        if (at < line.size())
            out.push_back(line.substr(at, end == std::string::npos ? end : end - at));
        at = end == std::string::npos ? line.size() : end;
    }
    return out;
}

bool fail(ListError& error, std::size_t line, const std::string& text, const std::string& why) {
    error = {line, text, why};
    return false;
}

// One EDL entry; false with `why` for a line that is none.
bool edlEntry(const std::vector<std::string>& f, double& start, double& end, int& action,
              std::string& why) {
    if (f.size() != 2 && f.size() != 3) {
        why = "not START END [ACTION]";
        return false;
    }
    if (!parseTime(f[0], start, why) || !parseTime(f[1], end, why)) return false;
    action = 0;
    if (f.size() == 3) {
        if (f[2].size() != 1 || f[2][0] < '0' || f[2][0] > '3') {
            why = "unknown action " + f[2];
            return false;
        }
        action = f[2][0] - '0';
    }
    if (end < start) {
        why = "it ends before it starts";
        return false;
    }
    return true;
}

}  // namespace

bool parseEdl(const std::string& text, Plan& plan, ListError& error) {
    const std::vector<std::string> lines = linesOf(text);
    std::vector<Edit> removals;
    double last = 0.0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> f = fields(lines[i]);
        if (f.empty() || f[0][0] == '#') continue;
        double start = 0.0, end = 0.0;
        int action = 0;
        std::string why;
        if (!edlEntry(f, start, end, action, why)) return fail(error, i + 1, lines[i], why);
        if (start < last)
            return fail(error, i + 1, lines[i], "entries must ascend and not overlap");
        last = end;
        if (action == 1) plan.mutes.push_back({start, end});
        if (action == 0 || action == 3) removals.push_back({start, end - start, false, lines[i]});
    }
    std::string bad, why;
    return planEdits(removals, plan, bad, why) || fail(error, 0, bad, why);
}

bool parseChapters(const std::string& text, Plan& plan, ListError& error) {
    const std::vector<std::string> lines = linesOf(text);
    plan.kind = Plan::Kind::points;
    plan.numbered = true;
    double last = -1.0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (fields(line).empty()) continue;
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        std::size_t digits = 7;
        while (digits < key.size() && std::isdigit(static_cast<unsigned char>(key[digits])))
            ++digits;
        if (key.compare(0, 7, "CHAPTER") != 0 || digits == 7 || equals == std::string::npos ||
            (digits != key.size() && key.substr(digits) != "NAME")) {
            return fail(error, i + 1, line, "not CHAPTERnn= or CHAPTERnnNAME=");
        }
        if (digits != key.size()) continue;  // the chapter's name
        double at = 0.0;
        std::string why;
        if (!parseTime(line.substr(equals + 1), at, why)) return fail(error, i + 1, line, why);
        if (at <= last) return fail(error, i + 1, line, "chapters must ascend");
        last = at;
        if (at > 0.0) plan.points.push_back(at);
    }
    return true;
}

namespace {

// A whole number, with an optional minus sign when `sign`, at text[at]; `at` moves past it
// and any spaces around it.
bool number(const std::string& text, std::size_t& at, bool sign, double& value) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    const std::size_t start = at;
    if (sign && at < text.size() && text[at] == '-') ++at;
    const std::size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits || at - digits > 12) return false;
    value = std::strtod(text.substr(start, at - start).c_str(), nullptr);
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    return true;
}

// Trim(a,b) at text[at], case as AviSynth takes it: any.
bool trimCall(const std::string& text, std::size_t& at, double& a, double& b) {
    at += 5;  // "trim("
    if (!number(text, at, false, a) || at >= text.size() || text[at] != ',') return false;
    ++at;
    return number(text, at, true, b) && at < text.size() && text[at] == ')';
}

}  // namespace

bool parseTrims(const std::string& text, const FrameRate& fps, Plan& plan, ListError& error) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    plan.kind = Plan::Kind::ranges;
    plan.outputs = {{}};
    double last = 0.0;
    bool open = false;
    std::size_t line = 1, counted = 0;  // the line of text[counted]
    for (std::size_t at = lower.find("trim("); at != std::string::npos;
         at = lower.find("trim(", at)) {
        line += static_cast<std::size_t>(
            std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                       text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
        counted = at;
        const std::size_t newline = text.rfind('\n', at);
        const std::size_t lineStart = newline == std::string::npos ? 0 : newline + 1;
        const std::string lineText = text.substr(lineStart, text.find('\n', at) - lineStart);
        double a = 0.0, b = 0.0;
        if (!trimCall(lower, at, a, b)) return fail(error, line, lineText, "not Trim(a,b)");
        PlanItem item;
        item.from = fps.time(a);
        item.openEnd = b == 0.0;
        item.to = fps.time(b < 0.0 ? a - b : b + 1.0);
        if (open || item.from < last || (!item.openEnd && item.to < item.from)) {
            return fail(error, line, lineText, "trims must ascend");
        }
        if (item.to > longestTime || item.from > longestTime)
            return fail(error, line, lineText, "over 360000 s");
        plan.outputs[0].push_back(item);
        last = item.openEnd ? item.from : item.to;
        open = item.openEnd;
    }
    if (plan.outputs[0].empty()) return fail(error, 0, "", "no Trim(a,b) in it");
    return true;
}
