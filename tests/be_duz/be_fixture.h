// Test bed of the plug-in helper suites: a temporary agent home whose parameter-table cache is
// emptied after each test, and attribute lists over test-owned storage, the way the agent passes
// its own lists to the plug-in.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "gm_param.h"
#include "testbed.h"
#include "zpaapi.h"

namespace betest {

class HomeTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override {
        GM_PARAM_clear();
        GM_PARAM_subtable_clear();
    }
};

class OwnedList {
public:
    OwnedList(std::initializer_list<std::pair<const char*, const char*>> items) {
        for (auto& [n, v] : items) {
            names_.emplace_back(n);
            values_.emplace_back(v);
        }
    }
    template <typename It>
    OwnedList(It first, It last) {
        for (; first != last; ++first) {
            names_.emplace_back(first->first);
            values_.emplace_back(first->second);
        }
    }
    // The list, its attributes pointing at this object's storage (valid while it lives and is
    // not copied). Call once and keep the pointer when the plug-in may replace the array.
    ZPAAttrList* list() {
        attrs_.clear();
        for (std::size_t i = 0; i < names_.size(); ++i)
            attrs_.push_back(
                ZPAAttr{names_[i].data(), static_cast<unsigned short>(values_[i].size() + 1), values_[i].data()});
        list_ = ZPAAttrList{static_cast<int>(attrs_.size()), attrs_.empty() ? nullptr : attrs_.data(), 0};
        return &list_;
    }

private:
    std::vector<std::string> names_, values_;
    std::vector<ZPAAttr> attrs_;
    ZPAAttrList list_{0, nullptr, 0};
};

// A list as "NAME=VALUE" lines, in order.
inline std::vector<std::string> lines_of(const ZPAAttrList& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count; ++i)
        lines.push_back(std::string(list.Attributes[i].Name) + "=" + list.Attributes[i].Value);
    return lines;
}

}  // namespace betest
