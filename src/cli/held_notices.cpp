#include "cli/held_notices.h"

#include <utility>

bool HeldNotices::say(std::function<void()> notice) {
    held.push_back(std::move(notice));
    return release();
}

bool HeldNotices::release() {
    if (held.empty() || plan.holding()) return true;
    if (!plan.flush()) return false;
    for (const std::function<void()>& notice : held) notice();
    held.clear();
    return true;
}
