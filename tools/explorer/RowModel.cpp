#include "tools/explorer/RowModel.h"

#include <QtGui/QBrush>
#include <algorithm>
#include <charconv>

#include "objects/QRView.h"
#include "objects/QRViewBase.h"

struct RowModel::Node {
  Node* parent = nullptr;
  int row = 0;  // in parent->children
  std::vector<std::unique_ptr<Node>> children;
  std::string viewPosition;  // "2.1.3" in a tree; unused while flat
  int position = 0;          // flat position, as OnMove reports it
  Kind kind = Kind::Document;
  QStringList cells;
  bool mayHaveChildren = false;
  bool complete = false;  // every child has been read
};

namespace {

QColor ColorOf(uint32_t bgr) { return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF)); }

Qt::Alignment AlignmentOf(TQuireColJustify justify) {
  switch (justify) {
    case cjRight: return Qt::AlignRight | Qt::AlignVCenter;
    case cjCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
    case cjLeft: break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// "2.1.3" -> {2, 1, 3}; empty when the text is not a dotted list of ordinals.
std::vector<int> Ordinals(const std::string& text) {
  std::vector<int> out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    int value = 0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value <= 0) return {};
    out.push_back(value);
    p = next;
    if (p < end && *p++ != '.') return {};
  }
  return out;
}

}  // namespace

RowModel::RowModel(QObject* parent) : QAbstractItemModel(parent), root_(std::make_unique<Node>()) {}

RowModel::~RowModel() = default;

void RowModel::SetIndex(std::unique_ptr<TQuireViewBase> index) {
  beginResetModel();
  index_ = std::move(index);
  view_ = dynamic_cast<TQuireView*>(index_.get());
  ReadColumns();
  root_ = std::make_unique<Node>();
  rowsRead_ = 0;
  endResetModel();
}

void RowModel::Reload() {
  beginResetModel();
  if (index_) index_->Refresh();
  root_ = std::make_unique<Node>();
  rowsRead_ = 0;
  endResetModel();
}

int RowModel::FTSearch(const QString& query) {
  if (!index_) return 0;
  beginResetModel();
  // A search in force would be refined; the box means a fresh search each time.
  if (index_->FTActive) index_->FTClear();
  const int found = index_->FTSearch(query.toStdString(), 0);
  root_ = std::make_unique<Node>();
  rowsRead_ = 0;
  endResetModel();
  return found;
}

void RowModel::FTClear() {
  if (!index_ || !index_->FTActive) return;
  beginResetModel();
  index_->FTClear();
  root_ = std::make_unique<Node>();
  rowsRead_ = 0;
  endResetModel();
}

bool RowModel::FTActive() const { return index_ && index_->FTActive; }

bool RowModel::Flat() const { return !view_ || view_->FTActive; }

void RowModel::ReadColumns() {
  columns_.clear();
  background_ = QColor();
  alternate_ = QColor();
  if (!index_) return;
  if (view_) {
    background_ = ColorOf(view_->BackgroundColor);
    alternate_ = ColorOf(view_->AlternateColor);
  }
  for (int i = 0; i < index_->ColumnCount; ++i) {
    TQuireViewColumn* column = index_->GetColumn(i);
    if (!column || column->Hidden) continue;
    std::string title;
    column->GetTitle(title);
    QFont font;
    if (!column->Font.Name.empty()) font.setFamily(QString::fromStdString(column->Font.Name));
    if (column->FontSize > 0) font.setPointSize(column->FontSize);
    font.setBold(column->Font.Bold);
    font.setItalic(column->Font.Italic);
    font.setUnderline(column->Font.Underline);
    font.setStrikeOut(column->Font.StrikeOut);
    columns_.push_back(Column{i + 1, QString::fromStdString(title), column->GetWidth(), AlignmentOf(column->Justify),
                              font, ColorOf(column->Font.Color), column->Category});
  }
}

int RowModel::ColumnWidth(int section) const {
  if (section < 0 || section >= int(columns_.size())) return 0;
  return columns_[size_t(section)].width;
}

RowModel::Node* RowModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex RowModel::IndexOfNode(Node* node) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->row, 0, node);
}

int RowModel::columnCount(const QModelIndex&) const { return int(columns_.size()); }

int RowModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return int(NodeOf(parent)->children.size());
}

QModelIndex RowModel::index(int row, int column, const QModelIndex& parent) const {
  Node* node = NodeOf(parent);
  if (row < 0 || row >= int(node->children.size()) || column < 0 || column >= columnCount()) return {};
  return createIndex(row, column, node->children[size_t(row)].get());
}

QModelIndex RowModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOfNode(static_cast<Node*>(child.internalPointer())->parent);
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Node* node = NodeOf(index);
  const Column& column = columns_[size_t(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return index.column() < node->cells.size() ? node->cells[index.column()] : QString();
    case Qt::TextAlignmentRole: return QVariant::fromValue(column.alignment);
    case Qt::FontRole: {
      QFont font = column.font;
      if (node->kind != Kind::Document) font.setBold(true);
      if (node->kind == Kind::Total) font.setItalic(true);
      return font;
    }
    case Qt::ForegroundRole: return QBrush(column.color);
    case Qt::BackgroundRole: {
      const QColor& color = (node->row % 2 && alternate_.isValid()) ? alternate_ : background_;
      if (!color.isValid()) return {};
      return QBrush(node->kind == Kind::Total ? color.darker(108) : color);
    }
    case PositionRole: return node->position;
    case KindRole: return int(node->kind);
    default: return {};
  }
}

QVariant RowModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= int(columns_.size())) return {};
  const Column& column = columns_[size_t(section)];
  if (role == Qt::DisplayRole) return column.title;
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(column.alignment);
  return {};
}

bool RowModel::hasChildren(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (node == root_.get()) return index_ != nullptr;
  return node->mayHaveChildren && !(node->complete && node->children.empty());
}

bool RowModel::canFetchMore(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (!index_ || node->complete) return false;
  return node == root_.get() || node->mayHaveChildren;
}

void RowModel::fetchMore(const QModelIndex& parent) {
  // Every insertion makes the tree lay out all the rows it has, so a long list is read in
  // batches that grow with it: the work of scrolling to the end stays in proportion to the
  // rows, and no single batch is long enough to be seen.
  Node* node = NodeOf(parent);
  FetchChildren(node, std::clamp(int(node->children.size()) / 8, kBatch, kMaxBatch));
}

std::unique_ptr<RowModel::Node> RowModel::ReadRow(Node* parent) {
  auto node = std::make_unique<Node>();
  node->parent = parent;
  node->position = index_->GetPosition();
  // A folder's object does not classify its rows; the entry's note ID tells the same.
  const HTID note = index_->NoteID;
  if (view_ ? view_->IsCategory : note == HTNOTEID_CATEGORY) node->kind = Kind::Category;
  else if (view_ ? view_->IsTotal : note == HTNOTEID_TOTAL) node->kind = Kind::Total;
  for (const Column& column : columns_) {
    // A document row leaves its category to the category row above it.
    std::string text;
    if (node->kind != Kind::Document || !column.category) index_->GetCellText(column.number, text);
    node->cells.push_back(QString::fromStdString(text));
  }
  if (!Flat()) {
    index_->GetViewPosition(node->viewPosition);
    node->mayHaveChildren = node->kind == Kind::Category || (node->kind == Kind::Document && view_->GetIsExpandable());
  }
  return node;
}

bool RowModel::FetchChildren(Node* node, int wanted) {
  if (!index_ || node->complete || wanted <= 0) return false;
  std::vector<std::unique_ptr<Node>> read;
  auto& kids = node->children;
  if (Flat()) {
    if (node != root_.get()) {
      node->complete = true;
      return false;
    }
    const int next = kids.empty() ? 1 : kids.back()->position + 1;
    if (next > index_->GetCount()) {
      node->complete = true;
      return false;
    }
    index_->MoveTo(next);
    while (index_->LastError == 0 && int(read.size()) < wanted) {
      read.push_back(ReadRow(node));
      if (int(read.size()) < wanted) index_->MoveNext();
    }
  } else {
    if (!kids.empty()) {
      view_->SetViewPosition(kids.back()->viewPosition);
      if (view_->LastError == 0) view_->MoveNextSibling();
    } else if (node == root_.get()) {
      view_->MoveFirst();
    } else {
      view_->SetViewPosition(node->viewPosition);
      if (view_->LastError == 0) view_->MoveNextChild();
    }
    while (view_->LastError == 0 && int(read.size()) < wanted) {
      read.push_back(ReadRow(node));
      if (int(read.size()) < wanted) view_->MoveNextSibling();
    }
  }
  if (index_->LastError != 0) node->complete = true;
  if (read.empty()) {
    // Children were promised (a category, a document with responses); now there are none.
    if (node != root_.get()) emit dataChanged(IndexOfNode(node), IndexOfNode(node));
    return false;
  }
  const int first = int(kids.size());
  beginInsertRows(IndexOfNode(node), first, first + int(read.size()) - 1);
  for (auto& child : read) {
    child->row = int(kids.size());
    kids.push_back(std::move(child));
  }
  rowsRead_ += int(read.size());
  endInsertRows();
  return true;
}

QModelIndex RowModel::IndexOfPosition(int position) {
  if (!index_ || position <= 0) return {};
  Node* node = root_.get();
  if (Flat()) {
    while (int(node->children.size()) < position && FetchChildren(node, position - int(node->children.size()))) {
    }
    if (int(node->children.size()) < position) return {};
    return IndexOfNode(node->children[size_t(position - 1)].get());
  }
  index_->MoveTo(position);
  if (index_->LastError != 0) return {};
  std::string text;
  index_->GetViewPosition(text);
  const std::vector<int> ordinals = Ordinals(text);
  if (ordinals.empty()) return {};
  for (int ordinal : ordinals) {
    while (int(node->children.size()) < ordinal && FetchChildren(node, ordinal - int(node->children.size()))) {
    }
    if (int(node->children.size()) < ordinal) return {};
    node = node->children[size_t(ordinal - 1)].get();
  }
  return IndexOfNode(node);
}

int RowModel::PositionOf(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->position : 0;
}
