#pragma once
// Names each row of a table-driven test after its `name` member, so that a
// failing row reports itself.
#include <string>

namespace orvane {
struct CaseName {
    template <typename ParamInfo>
    std::string operator()(const ParamInfo& row) const {
        return row.param.name;
    }
};
}  // namespace orvane
