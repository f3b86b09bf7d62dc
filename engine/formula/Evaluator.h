// Runs a Program over one EvalContext. Internal to the formula library.
#pragma once

#include "engine/formula/Ast.h"
#include "engine/formula/Formula.h"

#include <vector>

namespace quire::formula {

class Evaluator {
public:
    Evaluator(const Program& program, EvalContext& context);

    // Throws Failure.
    Evaluation run();
    Value eval(const Node& node);
    // Evaluates a condition (@If, SELECT, & |): a number list, true when any
    // element is non-zero. `what` names the construct in a type error.
    bool truth(const Node& node, std::string_view what);

    EvalContext& context() { return context_; }

    // Budgets: bytes of values built and units of work done (comparisons,
    // sort steps) in this evaluation; exceeding either fails with a limit
    // error at `offset`.
    void chargeBytes(size_t bytes, uint32_t offset);
    void chargeWork(size_t units, uint32_t offset);
    size_t bytesLeft() const { return kMaxEvaluationBytes - bytesSpent_; }

private:
    Value evalCall(const Node& node);
    Value evalLogical(const Node& node);
    Value evalChain(const Node& node);
    Value evalList(const Node& node);
    Value evalNegate(const Node& node);
    Value evalNot(const Node& node);
    void runStatement(const Statement& st, Evaluation& out, bool& haveValue, bool& selectSeen);

    const Program& program_;
    EvalContext& context_;
    std::vector<Value> slots_;
    size_t bytesSpent_ = 0;
    size_t workDone_ = 0;
};

inline constexpr size_t kMaxEvaluationWork = size_t{1} << 27;

}  // namespace quire::formula
