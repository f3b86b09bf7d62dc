// Any text compiles to a formula or to an error naming a position inside the
// text; any compiled formula evaluates to a value or an error. Also holds the
// collation to its promise that sort keys order like compareText.
#include "engine/formula/Collation.h"
#include "engine/formula/Formula.h"
#include "engine/formula/MapContext.h"

#include <cstdlib>
#include <string_view>

using namespace quire::formula;

namespace {

MapContext& document() {
    static MapContext ctx = [] {
        MapContext c;
        c.set("Subject", Value("Quarterly Report"));
        c.set("Tags", Value(Value::TextList{"red", "Green", "", "blue"}));
        c.set("Amount", Value(12.5));
        c.set("Counts", Value(Value::NumberList{1, -2, 3e300}));
        DateTime d;
        DateTime::dateOnly(2024, 1, 31, d);
        c.set("Due", Value(d));
        c.set("Author", Value("CN=John Smith/OU=Sales/O=Acme/C=US"));
        DateTime::fromCivil(CivilDateTime{2024, 3, 15, 14, 30, 0, 0}, c.now_);
        return c;
    }();
    return ctx;
}

void checkError(const FormulaError& e, std::string_view text) {
    if (e.position < 1 || e.position > text.size() + 1 || e.message.rfind("Formula error at position ", 0) != 0)
        std::abort();
}

int sign(int v) { return (v > 0) - (v < 0); }

void checkCollation(std::string_view text) {
    const size_t half = text.size() / 2;
    const std::string_view a = text.substr(0, half), b = text.substr(half);
    const std::string ka = collationKey(a), kb = collationKey(b);
    if (sign(compareText(a, b)) != sign(ka.compare(kb))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkCollation(text);
    auto formula = Formula::compile(text);
    if (!formula) {
        checkError(formula.error(), text);
        return 0;
    }
    MapContext ctx = document();  // FIELD assignments must not leak into the next input
    auto result = formula.value().run(ctx);
    if (!result) checkError(result.error(), text);
    return 0;
}
