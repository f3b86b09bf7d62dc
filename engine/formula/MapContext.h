// An EvalContext over an in-memory set of items, for evaluating a formula
// without a stored document (design checks, tests, the fuzzer).
//
// Item names ignore ASCII case. FIELD assignments change the map. The clock
// and document properties are plain members the caller sets. Not thread-safe;
// one context per evaluation thread.
#pragma once

#include "engine/formula/Formula.h"

#include <map>
#include <string>

namespace quire::formula {

class MapContext : public EvalContext {
public:
    void set(std::string_view name, Value value);
    void remove(std::string_view name);
    const Value* find(std::string_view name) const;

    Value getField(std::string_view name) override;
    bool hasField(std::string_view name) override;
    bool setField(std::string_view name, const Value& value) override;
    DateTime created() override { return created_; }
    DateTime modified() override { return modified_; }
    std::string unid() override { return unid_; }
    bool isResponse() override { return isResponse_; }
    std::string userName() override { return userName_; }
    DateTime now() override { return now_; }

    DateTime created_{};
    DateTime modified_{};
    DateTime now_{};
    std::string unid_;
    std::string userName_;
    bool isResponse_ = false;
    bool readOnly_ = false;  // refuse FIELD assignments

private:
    static std::string key(std::string_view name);
    std::map<std::string, Value> items_;
};

}  // namespace quire::formula
