#include "engine/formula/Formula.h"

#include "engine/formula/Evaluator.h"
#include "engine/formula/Failure.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Parser.h"
#include "engine/formula/TextOps.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>

namespace quire::formula {

namespace {

FormulaError toError(const Failure& f, std::string_view source) {
    FormulaError e;
    e.kind = f.kind;
    e.position = codePointCount(source.substr(0, std::min<size_t>(f.offset, source.size()))) + 1;
    e.message = std::string("Formula error at position ") + std::to_string(e.position) + ": " + f.message;
    return e;
}

FormulaError limitError(const char* what) {
    return FormulaError{ErrorKind::Limit, 1, std::string("Formula error at position 1: ") + what};
}

// Runs `body`, turning every failure into a FormulaError so nothing escapes.
template <class T, class Body>
Result<T> guarded(std::string_view source, Body body) {
    try {
        return body();
    } catch (const Failure& f) {
        return toError(f, source);
    } catch (const std::bad_alloc&) {
        return limitError("out of memory");
    } catch (const std::length_error&) {
        return limitError("out of memory");
    } catch (const std::exception& e) {
        return FormulaError{ErrorKind::Context, 1, std::string("Formula error at position 1: ") + e.what()};
    }
}

bool isConstantTrue(const Node& node) {
    if (node.kind == NodeKind::Literal) return node.literal.isTrue();
    if (node.kind == NodeKind::Call && node.children.empty())
        return node.function->name == "All" || node.function->name == "True";
    return false;
}

}  // namespace

DateTime EvalContext::now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    CivilDateTime civil{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        std::min(local.tm_sec, 59), static_cast<int>(ms < 0 ? ms + 1000 : ms)};
    DateTime dt;
    DateTime::fromCivil(civil, dt);
    return dt;
}

std::string EvalContext::formatDateTime(const DateTime& dt) {
    const CivilDateTime c = dt.toCivil();
    char buf[64];
    if (dt.hasDate() && dt.hasTime())
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", c.month, c.day, c.year, c.hour, c.minute,
                      c.second);
    else if (dt.hasDate())
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", c.month, c.day, c.year);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", c.hour, c.minute, c.second);
    return buf;
}

Formula::Formula() {
    static const auto empty = std::make_shared<const Program>();
    program_ = empty;
}

Result<Formula> Formula::compile(std::string_view text) {
    if (text.size() > kMaxFormulaLength) return limitError("the formula is too long");
    return guarded<Formula>(text, [&]() -> Result<Formula> {
        return Formula(std::shared_ptr<const Program>(parseFormula(text)));
    });
}

Result<Evaluation> Formula::run(EvalContext& context) const {
    return guarded<Evaluation>(program_->source, [&]() -> Result<Evaluation> {
        return Evaluator(*program_, context).run();
    });
}

Result<Value> Formula::evaluate(EvalContext& context) const {
    auto r = run(context);
    if (!r) return r.error();
    return std::move(r.value().value);
}

Result<bool> Formula::selects(EvalContext& context) const {
    auto r = run(context);
    if (!r) return r.error();
    return r.value().selected;
}

const std::string& Formula::text() const { return program_->source; }
const std::vector<std::string>& Formula::fieldsRead() const { return program_->fieldsRead; }
const std::vector<std::string>& Formula::fieldsWritten() const { return program_->fieldsWritten; }
bool Formula::hasSelect() const { return program_->hasSelect; }

bool Formula::selectsAll() const {
    for (const Statement& st : program_->statements)
        if (st.kind != StatementKind::Select || !isConstantTrue(*st.expr)) return false;
    return true;
}

std::optional<std::string_view> Formula::simpleField() const {
    const auto& sts = program_->statements;
    if (sts.size() != 1 || !sts[0].expr || sts[0].expr->kind != NodeKind::Field) return std::nullopt;
    if (sts[0].kind != StatementKind::Expression && sts[0].kind != StatementKind::Select) return std::nullopt;
    return std::string_view(sts[0].expr->name);
}

}  // namespace quire::formula
