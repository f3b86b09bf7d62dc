// @Name: hierarchical user names in canonical ("CN=John Smith/OU=Sales/O=Acme")
// and abbreviated ("John Smith/Sales/Acme") form.
#include "engine/formula/Functions.h"

#include <algorithm>
#include <vector>

namespace quire::formula {

namespace {

struct NameParts {
    bool hierarchical = false;
    std::string flat;  // a name without hierarchy, kept as given
    std::string cn;
    std::vector<std::string> ous;  // ous[0] nearest the common name
    std::string o;
    std::string c;
};

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    return out;
}

std::vector<std::string_view> components(std::string_view name) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t at; (at = name.find('/', start)) != std::string_view::npos; start = at + 1)
        out.push_back(trim(name.substr(start, at - start)));
    out.push_back(trim(name.substr(start)));
    return out;
}

bool isCanonical(std::string_view name) {
    const size_t eq = name.find('=');
    return eq != std::string_view::npos && eq < name.find('/') && eq > 0 && eq <= 2;
}

NameParts parseCanonical(std::string_view name) {
    NameParts parts;
    parts.hierarchical = true;
    for (std::string_view comp : components(name)) {
        const size_t eq = comp.find('=');
        const std::string key = eq == std::string_view::npos ? std::string() : upperAscii(trim(comp.substr(0, eq)));
        const std::string value(eq == std::string_view::npos ? comp : trim(comp.substr(eq + 1)));
        if (key == "CN")
            parts.cn = value;
        else if (key == "OU")
            parts.ous.push_back(value);
        else if (key == "O")
            parts.o = value;
        else if (key == "C")
            parts.c = value;
    }
    return parts;
}

NameParts parseAbbreviated(std::string_view name) {
    NameParts parts;
    std::vector<std::string_view> comps = components(name);
    if (comps.size() < 2) {
        parts.flat = std::string(trim(name));
        parts.cn = parts.flat;
        return parts;
    }
    parts.hierarchical = true;
    parts.cn = std::string(comps.front());
    comps.erase(comps.begin());
    if (comps.size() >= 2 && comps.back().size() == 2) {
        parts.c = std::string(comps.back());
        comps.pop_back();
    }
    parts.o = std::string(comps.back());
    comps.pop_back();
    for (std::string_view ou : comps) parts.ous.emplace_back(ou);
    return parts;
}

NameParts parseName(std::string_view name) {
    return isCanonical(name) ? parseCanonical(name) : parseAbbreviated(name);
}

std::string join(const NameParts& p, bool canonical) {
    if (!p.hierarchical) return p.flat;
    std::string out;
    auto add = [&](const char* key, const std::string& value) {
        if (value.empty()) return;
        if (!out.empty()) out += '/';
        if (canonical) out += key;
        out += value;
    };
    add("CN=", p.cn);
    for (const auto& ou : p.ous) add("OU=", ou);
    add("O=", p.o);
    add("C=", p.c);
    return out;
}

std::string applyAction(const std::string& action, const NameParts& p, const Call& call) {
    if (action == "CN") return p.cn;
    if (action == "ABBREVIATE") return join(p, false);
    if (action == "CANONICALIZE") return join(p, true);
    if (action == "O") return p.o;
    if (action == "C") return p.c;
    if (action.size() == 3 && action.starts_with("OU") && action[2] >= '1' && action[2] <= '4') {
        const size_t i = static_cast<size_t>(action[2] - '1');
        return i < p.ous.size() ? p.ous[i] : std::string();
    }
    call.fail(std::string("unsupported action [") + action + "]");
}

Value fnName(std::span<const Value> a, const Call& c) {
    const std::string action = upperAscii(c.text(a[0]));
    Value::TextList out;
    for (const auto& name : c.texts(a[1])) out.push_back(applyAction(action, parseName(name), c));
    return Value(std::move(out));
}

constexpr FunctionDef kNameFunctions[] = {
    {"Name", 2, 2, fnName},
};

}  // namespace

std::span<const FunctionDef> nameFunctions() { return kNameFunctions; }

}  // namespace quire::formula
