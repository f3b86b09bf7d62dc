// RowModel: the rows of one view or folder as a Qt tree model, read as they come into sight.
//
// The model holds its own view or folder object (opened on a database the caller keeps open
// for as long as the model holds it) and walks it with the object model's navigation: the
// first child of a row, then its next siblings. Nothing is read up front: a row's children
// are read a batch at a time when the tree asks (canFetchMore/fetchMore), so opening a view
// of any size reads what fills the window, and scrolling reads what scrolls into sight.
//
// Rows are shown as the view defines them: the visible columns with their titles, widths,
// alignment, fonts and colours; category rows carry their subtotals and can be collapsed;
// responses sit under the documents they answer; the total row closes the view. While a
// full-text search is in force, or for a folder, the rows are one flat list of results.
//
// Rows are known by their flat position, the number the data control reports in OnMove;
// IndexOfPosition finds (reading what it must) the row of a position.
//
// Failures: a navigation that fails ends the children of that row; nothing throws.
// Threads: the GUI thread only.
#pragma once

#include <QtCore/QAbstractItemModel>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <memory>
#include <string>
#include <vector>

class TQuireView;
class TQuireViewBase;

class RowModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  // Rows read per fetch: kBatch at first, then an eighth of those already read, up to
  // kMaxBatch.
  static constexpr int kBatch = 100;
  static constexpr int kMaxBatch = 2000;

  enum class Kind { Document, Category, Total };
  // Item data roles beyond Qt's own.
  enum Role { PositionRole = Qt::UserRole + 1, KindRole, NoteIDRole };

  explicit RowModel(QObject* parent = nullptr);
  ~RowModel() override;

  // Shows `index` (a view or folder, taken over); nullptr shows nothing.
  void SetIndex(std::unique_ptr<TQuireViewBase> index);
  TQuireViewBase* Index() const { return index_.get(); }
  // Reads the rows again from the start (after a change to the database).
  void Reload();

  // Full text over the shown view or folder: the rows become the results. Answers the
  // number of results (0 when none or on failure).
  int FTSearch(const QString& query);
  void FTClear();
  bool FTActive() const;

  // The row of a flat position, reading the rows above it as needed; invalid when there is
  // none.
  QModelIndex IndexOfPosition(int position);
  int PositionOf(const QModelIndex& index) const;
  // The number of rows read so far, over the whole tree.
  int RowsRead() const { return rowsRead_; }

  int columnCount(const QModelIndex& parent = {}) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // The width the view gives column `section`, in pixels.
  int ColumnWidth(int section) const;

 private:
  struct Node;
  struct Column {
    int number;  // 1-based, as the view reads cells
    QString title;
    int width;
    Qt::Alignment alignment;
    QFont font;
    QColor color;
    bool category;
  };

  void ReadColumns();
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOfNode(Node* node) const;
  // Reads up to kBatch more children of `node`; false when it has no more.
  bool FetchChildren(Node* node, int wanted);
  bool Flat() const;
  // The current entry of the view, as a row.
  std::unique_ptr<Node> ReadRow(Node* parent);

  std::unique_ptr<TQuireViewBase> index_;
  TQuireView* view_ = nullptr;  // index_ when it is a view
  std::vector<Column> columns_;
  std::unique_ptr<Node> root_;
  QColor background_;
  QColor alternate_;
  int rowsRead_ = 0;
};
