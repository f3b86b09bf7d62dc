// Formula selection against the evaluator itself: random documents and random formulas,
// the collection's answer (summary cache, fast path where the formula allows it) compared
// with evaluating every document in full -- before and after the documents change.
#include <random>
#include <set>

#include "engine/index/FastSelect.h"
#include "engine/index/NoteContext.h"
#include "engine/store/NoteStore.h"
#include "index_support.h"

namespace quire::engine::test {
namespace {

class SelectTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    db_ = createAndOpen("random.nsf", "Random");
  }

  template <typename T>
  const T& pick(const std::vector<T>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng_)];
  }
  bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }

  void randomFields(doc::Note& n) {
    static const std::vector<std::string> forms = {"Order", "order", "ORDER", "Ordér", "Invoice", ""};
    static const std::vector<double> numbers = {-5, 0, 0.5, 100, 500, 500.0001, 1000};
    static const std::vector<std::string> tags = {"a", "B", "é", "b", "Z"};
    for (const char* name : {"Form", "Amount", "Tags", "Flag"}) n.remove(name);
    if (chance(85)) n.setText("Form", pick(forms));
    const int amount = std::uniform_int_distribution<int>(0, 9)(rng_);
    if (amount < 5) n.setNumber("Amount", pick(numbers));
    else if (amount == 5) n.put({"Amount", HTTYPE_NUMBER_LIST, 0, store::codec::encodeNumberList({pick(numbers), pick(numbers)})});
    else if (amount == 6) n.setText("Amount", "12");
    else if (amount == 7) n.setDateTime("Amount", HTDATETIME{0, (1u << 30) + 45000});
    if (chance(60)) n.setTextList("Tags", {pick(tags), pick(tags)});
    const int flag = std::uniform_int_distribution<int>(0, 4)(rng_);
    if (flag == 0) n.setNumber("Flag", 0);
    else if (flag == 1) n.setNumber("Flag", 1);
    else if (flag == 2) n.put({"Flag", HTTYPE_NUMBER_LIST, 0, store::codec::encodeNumberList({0, 1})});
    else if (flag == 3) n.setText("Flag", "yes");
  }

  std::string constant() {
    static const std::vector<std::string> texts = {"\"order\"", "\"Order\"", "\"b\"", "\"é\"", "\"\"", "\"Z\""};
    static const std::vector<std::string> numbers = {"0", "100", "500", "-5", "0.5"};
    return chance(50) ? pick(texts) : pick(numbers);
  }

  std::string atom(int depth) {
    static const std::vector<std::string> fields = {"Form", "Amount", "Tags", "Flag", "Missing", "amount"};
    static const std::vector<std::string> ops = {"=", "!=", "<", ">", "<=", ">=", "*=", "*!=", "<>"};
    const int kind = std::uniform_int_distribution<int>(0, depth > 2 ? 5 : 8)(rng_);
    switch (kind) {
      case 0: case 1: case 2: return pick(fields) + " " + pick(ops) + " " + constant();
      case 3: return constant() + " " + pick(ops) + " " + pick(fields);
      case 4: return pick(fields);
      case 5: return pick(std::vector<std::string>{"@True", "@False", "1", "0", "@All"});
      case 6: return "!" + atom(depth + 1);
      default: return "(" + expression(depth + 1) + ")";
    }
  }

  std::string expression(int depth) {
    std::string e = atom(depth);
    const int more = std::uniform_int_distribution<int>(0, 2)(rng_);
    for (int k = 0; k < more; ++k) e += (chance(50) ? " & " : " | ") + atom(depth);
    return e;
  }

  std::string formula() {
    if (chance(10)) {  // shapes only the evaluator takes
      return pick(std::vector<std::string>{"@Contains(Form; \"r\")", "Amount * 2 > 100", "x := Amount; x > 0",
                                           "Form = \"Order\" : \"Invoice\"", "@Elements(Tags) = 2"});
    }
    return (chance(30) ? "SELECT " : "") + expression(0);
  }

  // The evaluator over every live document, one at a time.
  HTSTATUS reference(const std::string& text, std::vector<HTID>& out) {
    out.clear();
    auto compiled = formula::Formula::compile(text);
    EXPECT_TRUE(compiled.ok()) << text;
    auto d = database(db_);
    auto lock = d->lock();
    auto st = d->conn().prepare("SELECT note_id FROM notes WHERE note_class = 1 AND deleted = 0 ORDER BY note_id");
    size_t ran = 0, failed = 0;
    index::NoteContext context;
    while (st->step()) {
      auto header = store::readNote(d->conn(), HTID(st->int64(0)));
      context.bindStored(d->conn(), *header);
      ++ran;
      auto r = compiled.value().selects(context);
      if (!r) ++failed;
      else if (r.value()) out.push_back(header->id);
    }
    if (ran > 0 && failed == ran) {
      out.clear();
      return HTFAIL_FORMULA_EVAL;
    }
    return HTSUCCESS;
  }

  // Compares `count` random formulas; returns how many took the fast path.
  int compare(int count) {
    int fast = 0;
    for (int k = 0; k < count; ++k) {
      const std::string text = formula();
      if (index::FastSelect::build(text)) ++fast;
      std::vector<HTID> expected;
      const HTSTATUS expectedStatus = reference(text, expected);
      HTINDEXHANDLE idx = 0;
      EXPECT_EQ(HTIndexOpen(db_, &idx), HTSUCCESS);
      HTUINT matched = 0;
      const HTSTATUS status = HTIndexSearch(idx, text.c_str(), 0, &matched);
      EXPECT_EQ(status, expectedStatus) << text;
      EXPECT_EQ(walk(idx), expected) << text;
      HTIndexClose(idx);
    }
    return fast;
  }

  HTDBHANDLE db_ = 0;
  std::mt19937 rng_{20240229};
};

TEST_F(SelectTest, FastPathAndCacheAgreeWithTheEvaluator) {
  std::vector<HTID> ids;
  for (int k = 0; k < 60; ++k) ids.push_back(addDocument(db_, [&](doc::Note& n) { randomFields(n); }));
  EXPECT_GT(compare(250), 150);

  // Change, delete and add documents; the cache follows.
  for (int k = 0; k < 20; ++k) {
    const HTID id = pick(ids);
    if (chance(25)) {
      auto d = database(db_);
      auto lock = d->lock();
      auto header = store::readNote(d->conn(), id);
      if (header && !header->deleted) {
        lock.unlock();
        deleteDocument(db_, id);
      }
    } else {
      auto d = database(db_);
      bool live = false;
      {
        auto lock = d->lock();
        auto header = store::readNote(d->conn(), id);
        live = header && !header->deleted;
      }
      if (live) updateDocument(db_, id, [&](doc::Note& n) { randomFields(n); });
    }
    if (chance(30)) ids.push_back(addDocument(db_, [&](doc::Note& n) { randomFields(n); }));
  }
  compare(100);
}

TEST_F(SelectTest, RolledBackChangesAreForgotten) {
  const HTID keep = addOrder(db_, "Order", "kept", 1);
  std::vector<HTID> rows;
  {
    auto index = search(db_, "Form = \"Order\"");
    rows = walk(index);
    HTIndexClose(index);
  }
  EXPECT_EQ(rows, (std::vector<HTID>{keep}));
  // A search inside a writer's transaction sees the writer's change...
  {
    auto d = database(db_);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    doc::Note n = doc::newNote();
    n.setText("Form", "Order");
    doc::saveNote(*d, d->conn(), n);
    auto index = search(db_, "Form = \"Order\"");
    EXPECT_EQ(HTIndexGetCount(index), 2u);
    HTIndexClose(index);
  }  // ...which is then rolled back,
  // and a later change takes the same change number.
  const HTID later = addOrder(db_, "Invoice", "later", 2);
  auto index = search(db_, "Form = \"Order\"");
  EXPECT_EQ(walk(index), (std::vector<HTID>{keep}));
  HTIndexClose(index);
  index = search(db_, "Form = \"Invoice\"");
  EXPECT_EQ(walk(index), (std::vector<HTID>{later}));
  HTIndexClose(index);
}

}  // namespace
}  // namespace quire::engine::test
