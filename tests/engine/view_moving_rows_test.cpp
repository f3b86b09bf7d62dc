// Views opened while another connection keeps committing: every open must show one committed
// state, never a mix of the outline, chunks and rows of different commits. The writer moves
// documents between two categories in equal numbers and rebuilds the view now and then, so
// every committed state has the same counts and totals, and documents changed since the last
// build are the ones whose stored entries move from the build's chunks to rows.
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "engine/view/ViewIndex.h"
#include "view_support.h"

namespace quire::engine::test {
namespace {

// The reader walks until the writer has committed this often: more on SQLite, whose window
// between two statements is far shorter than a round trip, and fewer under the sanitizers,
// whose run is several times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kCommitsSqlite = 20, kCommitsPostgres = 20;
#else
constexpr int kCommitsSqlite = 200, kCommitsPostgres = 80;
#endif
constexpr int kDocuments = 200;
constexpr int kMovedEachWay = 10;  // per commit, from each category to the other
constexpr int kCommitsPerBuild = 2;

std::string subject(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "s%05d", n);
  return buffer;
}

class MovingRows : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    for (int i = 0; i < kDocuments; ++i) {
      const bool a = i % 2 == 0;
      ids_.push_back(addDocument(db_, [&](doc::Note& n) {
        n.setText("Group", a ? "a" : "b");
        n.setText("Subject", subject(i));
        n.setNumber("Amount", 1);
      }));
      inA_.push_back(a);
    }
    view_ = view("Moving", "", {{"Group", "Group", "", HTCOLSORT_CAT_ASCEND},
                                {"Subject", "Subject", "", HTCOLSORT_ASCEND},
                                {"Amount", "Amount", "", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL}});
  }

  // Through a connection of its own, as another process would: moves kMovedEachWay documents
  // each way per commit (with new subjects, so they change places within their category too)
  // and rebuilds the view every kCommitsPerBuild commits.
  void write(std::atomic<bool>& stop, std::atomic<int>& commits, std::string& failure) {
    try {
      db::Database other(database(db_)->file(), store::open(database(db_)->file(), {}));
      auto lock = other.lock();
      store::Connection& conn = other.conn();
      std::mt19937 random(7);
      int next = kDocuments;
      while (!stop) {
        if (commits % kCommitsPerBuild == kCommitsPerBuild - 1) {
          auto design = view::designOf(other, conn, view_);
          if (!design) throw std::runtime_error("the view is gone");
          view::rebuild(other, conn, *design);
        } else {
          std::vector<size_t> fromA, fromB;
          for (size_t i = 0; i < ids_.size(); ++i) (inA_[i] ? fromA : fromB).push_back(i);
          std::shuffle(fromA.begin(), fromA.end(), random);
          std::shuffle(fromB.begin(), fromB.end(), random);
          std::vector<size_t> moved(fromA.begin(), fromA.begin() + kMovedEachWay);
          moved.insert(moved.end(), fromB.begin(), fromB.begin() + kMovedEachWay);
          store::Transaction tx(conn);
          for (size_t i : moved) {
            auto note = doc::loadNote(other, conn, ids_[i]);
            if (!note) throw std::runtime_error("document " + std::to_string(ids_[i]) + " is gone");
            note->setText("Group", inA_[i] ? "b" : "a");
            note->setText("Subject", subject(next++));
            doc::saveNote(other, conn, *note);
          }
          tx.commit();
          for (size_t i : moved) inA_[i] = !inA_[i];
        }
        ++commits;
      }
    } catch (const std::exception& e) {
      failure = e.what();
      stop = true;  // ends the walks; `failure` is read once this thread is joined
    }
  }

  std::vector<HTID> ids_;
  std::vector<bool> inA_;
  HTID view_ = 0;
};

TEST_P(MovingRows, EveryOpenShowsOneCommittedState) {
  std::atomic<bool> stop{false};
  std::atomic<int> commits{0};
  std::string failure;
  std::thread writer([&] { write(stop, commits, failure); });
  // Joined however the walks end, failed assertions included.
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } join{stop, writer};
  int walked = 0, refreshed = 0;
  std::vector<std::string> broken;
  HTINDEXHANDLE index = 0;
  ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
  open_.push_back(index);
  const int wanted = onPostgres() ? kCommitsPostgres : kCommitsSqlite;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int w = 0; commits < wanted && !stop && std::chrono::steady_clock::now() < deadline; ++w) {
    ASSERT_EQ(HTIndexOpenViewFolder(index, 0, view_, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
    // Per category (position's first part): its row's cells and its documents.
    std::map<std::string, std::string> categoryCells;
    std::map<std::string, int> documents;
    std::set<HTID> seen;
    std::string total, duplicate;
    HTID note = 0;
    HTUINT entry = 0;
    HTSTATUS s = HTSUCCESS;
    while ((s = HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &entry)) == HTSUCCESS) {
      const std::string at = position(index);
      const std::string top = at.substr(0, at.find('.'));
      if (note == HTNOTEID_CATEGORY) {
        categoryCells[top] = cell(index, 1) + "|" + cell(index, 3);
      } else if (note == HTNOTEID_TOTAL) {
        total = cell(index, 3);
      } else {
        ++documents[top];
        if (!seen.insert(note).second) duplicate = std::to_string(note);
      }
    }
    // A view built again between the open and the first read of one of its chunks asks for
    // a refresh: that is no mixed state.
    if (s == HTFAIL_CONFLICT) {
      ++refreshed;
      continue;
    }
    ASSERT_EQ(s, HTFAIL_END_OF_LIST) << message(s);
    ++walked;
    const std::string half = std::to_string(kDocuments / 2);
    const std::map<std::string, std::string> cellsExpected{{"1", "a|" + half}, {"2", "b|" + half}};
    const std::map<std::string, int> documentsExpected{{"1", kDocuments / 2}, {"2", kDocuments / 2}};
    if (categoryCells != cellsExpected || documents != documentsExpected || total != std::to_string(kDocuments) ||
        !duplicate.empty() || seen.size() != size_t(kDocuments)) {
      std::string what = "walk " + std::to_string(w) + " after " + std::to_string(commits.load()) + " commits:";
      for (const auto& [top, n] : documents) what += " " + top + "=" + categoryCells[top] + "/" + std::to_string(n);
      what += " total " + total + " distinct " + std::to_string(seen.size());
      if (!duplicate.empty()) what += " twice " + duplicate;
      broken.push_back(what);
    }
  }
  stop = true;
  writer.join();
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(broken.empty()) << broken.size() << " of " << walked << " walks saw a mixed state; first: " << broken[0];
  // The trial means something only if the writer committed throughout.
  EXPECT_GE(commits.load(), wanted);
  EXPECT_GT(walked, refreshed);
}

QUIRE_BOTH_BACKENDS(MovingRows);

}  // namespace
}  // namespace quire::engine::test
