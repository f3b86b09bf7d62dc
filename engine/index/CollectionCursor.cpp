#include "engine/index/CollectionCursor.h"

#include <algorithm>

#include "engine/core/Status.h"
#include "engine/index/Selection.h"

namespace quire::engine::index {

CollectionCursor::CollectionCursor(std::shared_ptr<const IndexEnv> env) : env_(std::move(env)) {}

bool CollectionCursor::live(HTID note) {
  auto& database = *env_->database;
  auto lock = database.lock();
  auto st = database.conn().prepare("SELECT deleted FROM notes WHERE note_id = ?1");
  st->bind(1, int64_t(note));
  return st->step() && st->int64(0) == 0;
}

uint32_t CollectionCursor::seek(uint32_t from, bool forward) {
  const uint32_t n = count();
  for (uint32_t i = from; i >= 1 && i <= n; forward ? ++i : --i)
    if (live(rows_[i - 1])) return i;
  return 0;
}

HTSTATUS CollectionCursor::setPosition(uint32_t position) {
  position_ = std::min(position, count());
  return HTSUCCESS;
}

HTSTATUS CollectionCursor::navigate(HTINT navigation, HTUINT flags, NavEntry& out) {
  const bool backward = (flags & HTNAVFLAG_BACKWARD) != 0;
  const bool probe = (flags & HTNAVFLAG_PROBE) != 0;
  uint32_t target = 0;
  switch (navigation) {
    case HTNAV_NEXT:
    case HTNAV_SIBLING:
    case HTNAV_MAIN:
      // A collection is flat: every row is a main document and a sibling of the next.
      if (backward)
        target = position_ > 1 ? seek(position_ - 1, false) : 0;
      else
        target = seek(position_ + 1, true);
      break;
    case HTNAV_END:
      target = backward ? seek(1, true) : seek(count(), false);
      break;
    case HTNAV_CURRENT:
      if (rows_.empty()) return fail(HTFAIL_END_OF_LIST);
      if (position_ == 0) return fail(HTFAIL_NO_POSITION, "The collection is positioned before its first document");
      // The current document may have been deleted since: the nearest live one stands in.
      target = seek(position_, true);
      if (target == 0) target = seek(position_, false);
      break;
    case HTNAV_CHILD:
    case HTNAV_PARENT:
      return fail(HTFAIL_END_OF_LIST);
    default:
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown navigation " + std::to_string(navigation));
  }
  if (target == 0) return fail(HTFAIL_END_OF_LIST);
  if (!probe) position_ = target;
  out.note = rows_[target - 1];
  out.entryFlags = 0;
  return HTSUCCESS;
}

HTSTATUS CollectionCursor::allDocuments(std::vector<HTID>& out) {
  std::optional<formula::Formula> all;
  if (HTSTATUS s = compileFormula("", all)) return s;
  return select(env_->database, env_->reader, *all, out);
}

HTSTATUS CollectionCursor::search(std::string_view text, HTUINT flags, HTUINT& matched) {
  if (HTSTATUS s = requireReader(*env_, "search documents")) return s;
  std::optional<formula::Formula> compiled;
  if (HTSTATUS s = compileFormula(text, compiled)) return s;
  std::vector<HTID> rows;
  if (HTSTATUS s = select(env_->database, env_->reader, *compiled, rows)) return s;
  rows_ = std::move(rows);
  formula_ = std::string(text);
  position_ = 0;
  ftActive_ = false;
  beforeFt_.clear();
  scores_.clear();
  ftSteps_.clear();
  matched = count();
  return HTSUCCESS;
}

HTSTATUS CollectionCursor::runFt(const FtStep& step) {
  const bool refine = (step.options & HTFTOPT_REFINE) != 0 && ftActive_;
  // The rows searched: the current result for a refinement, else what there was before the
  // first full-text search (the whole database when no formula search was made).
  const bool wholeDatabase = !refine && (ftActive_ ? beforeFtAll_ : !formula_.has_value());
  const std::vector<HTID>& scope = refine ? rows_ : (ftActive_ ? beforeFt_ : rows_);
  std::unordered_set<HTID> within;
  if (!wholeDatabase) within.insert(scope.begin(), scope.end());

  std::vector<fulltext::Hit> hits;
  const unsigned fill = fulltext::fillFor(step.sort);
  if (HTSTATUS s = fulltext::search(env_->database, env_->reader, step.query, wholeDatabase ? nullptr : &within, hits, fill))
    return s;
  if (!wholeDatabase && step.sort == HTFTSORT_NONE) {
    // Unsorted results keep the order the rows had.
    std::unordered_map<HTID, size_t> place;
    for (size_t k = 0; k < scope.size(); ++k) place.emplace(scope[k], k);
    std::stable_sort(hits.begin(), hits.end(),
                     [&](const fulltext::Hit& a, const fulltext::Hit& b) { return place[a.note] < place[b.note]; });
  }
  if (HTSTATUS s = fulltext::order(hits, step.sort, step.maxDocs)) return s;

  if (!ftActive_) {
    beforeFt_ = rows_;
    beforeFtAll_ = !formula_.has_value();
  }
  rows_.clear();
  scores_.clear();
  rows_.reserve(hits.size());
  for (const auto& h : hits) rows_.push_back(h.note);
  scoresKnown_ = (fill & fulltext::kScores) != 0;
  if (scoresKnown_)
    for (const auto& h : hits) scores_[h.note] = h.score;
  ftActive_ = true;
  position_ = 0;
  return HTSUCCESS;
}

HTSTATUS CollectionCursor::ftSearch(std::string_view query, HTUINT options, HTINT sort, HTUINT maxDocs) {
  if (options & HTFTOPT_CLEAR) {
    if (!ftActive_) return HTSUCCESS;
    if (beforeFtAll_ && !formula_) {
      // Before the first full-text search the collection stood for the whole database.
      std::vector<HTID> all;
      if (HTSTATUS s = allDocuments(all)) return s;
      rows_ = std::move(all);
      formula_ = std::string();
    } else {
      rows_ = std::move(beforeFt_);
    }
    beforeFt_.clear();
    scores_.clear();
    ftSteps_.clear();
    ftActive_ = false;
    position_ = 0;
    return HTSUCCESS;
  }
  if (HTSTATUS s = requireReader(*env_, "search documents")) return s;
  FtStep step{std::string(query), options, sort, maxDocs};
  const bool refine = (options & HTFTOPT_REFINE) != 0 && ftActive_;
  if (HTSTATUS s = runFt(step)) return s;
  if (!refine) ftSteps_.clear();
  ftSteps_.push_back(std::move(step));
  return HTSUCCESS;
}

uint32_t CollectionCursor::ftScore() {
  if (!ftActive_ || position_ == 0 || position_ > count()) return 0;
  if (!scoresKnown_ && !ftSteps_.empty()) {
    // Relevance was not needed for the search's order: work it out now, for every row.
    std::vector<fulltext::Hit> hits;
    for (HTID note : rows_) hits.push_back(fulltext::Hit{note, 0, 0});
    if (fulltext::score(env_->database, ftSteps_.back().query, hits) == HTSUCCESS) {
      for (const auto& h : hits) scores_[h.note] = h.score;
      scoresKnown_ = true;
    }
  }
  auto it = scores_.find(rows_[position_ - 1]);
  return it == scores_.end() ? 0 : it->second;
}

HTSTATUS CollectionCursor::refresh() {
  const uint32_t keep = position_;
  if (formula_) {
    HTUINT matched = 0;
    const std::string text = *formula_;
    auto steps = ftSteps_;
    if (HTSTATUS s = search(text, 0, matched)) return s;
    for (const auto& step : steps) {
      if (HTSTATUS s = runFt(step)) return s;
    }
    ftSteps_ = std::move(steps);
  } else if (!ftSteps_.empty()) {
    auto steps = ftSteps_;
    ftActive_ = false;
    rows_.clear();
    for (const auto& step : steps) {
      if (HTSTATUS s = runFt(step)) return s;
    }
    ftSteps_ = std::move(steps);
  }
  position_ = std::min(keep, count());
  return HTSUCCESS;
}

}  // namespace quire::engine::index
