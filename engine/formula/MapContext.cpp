#include "engine/formula/MapContext.h"

namespace quire::formula {

std::string MapContext::key(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void MapContext::set(std::string_view name, Value value) { items_[key(name)] = std::move(value); }
void MapContext::remove(std::string_view name) { items_.erase(key(name)); }

const Value* MapContext::find(std::string_view name) const {
    const auto it = items_.find(key(name));
    return it == items_.end() ? nullptr : &it->second;
}

Value MapContext::getField(std::string_view name) {
    const Value* v = find(name);
    return v ? *v : Value();
}

bool MapContext::hasField(std::string_view name) { return find(name) != nullptr; }

bool MapContext::setField(std::string_view name, const Value& value) {
    if (readOnly_) return false;
    set(name, value);
    return true;
}

}  // namespace quire::formula
