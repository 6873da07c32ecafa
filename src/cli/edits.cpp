#include "cli/edits.h"

#include <algorithm>
#include <utility>

#include "cli/edit_values.h"

namespace {

bool parseEdit(const char* text, Edit& edit, std::string& why) {
    const std::string value = text;
    const std::size_t comma = value.find(',');
    edit.text = text;
    if (comma == std::string::npos || comma + 1 == value.size() ||
        (value[comma + 1] != '+' && value[comma + 1] != '-')) {
        why = "not T,+D or T,-D";
        return false;
    }
    edit.insert = value[comma + 1] == '+';
    return listTime(value.substr(0, comma), edit.at, why) &&
           listTime(value.substr(comma + 2), edit.seconds, why);
}

}  // namespace

bool parseEdits(const std::vector<const char*>& texts, Plan& plan, std::string& bad,
                std::string& why) {
    std::vector<Edit> edits(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!parseEdit(texts[i], edits[i], why)) {
            bad = texts[i];
            return false;
        }
    }
    return planEdits(std::move(edits), plan, bad, why);
}

bool planEdits(std::vector<Edit> edits, Plan& plan, std::string& bad, std::string& why) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::vector<PlanItem> items;
    double kept = 0.0;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const Edit& edit = edits[i];
        if (edit.at < kept) {
            bad = edits[i - 1].text;
            why = "the removal reaches past the next edit";
            return false;
        }
        items.push_back({kept, edit.at});
        if (edit.insert) items.push_back({edit.at, edit.at, false, edit.seconds});
        kept = edit.insert ? edit.at : edit.at + edit.seconds;
    }
    PlanItem rest;
    rest.from = kept;
    rest.openEnd = true;
    items.push_back(rest);
    plan.kind = Plan::Kind::ranges;
    plan.outputs = {items};
    for (const Edit& edit : edits) plan.edits.push_back(edit.at);
    return true;
}
