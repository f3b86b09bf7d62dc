#include "tools/explorer/AclDialog.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRAclEnt.h"
#include "objects/QRDbase.h"

namespace {

const char* const kLevels[] = {"No access", "Depositor", "Reader", "Author", "Editor", "Designer", "Manager"};

QTableWidgetItem* Tick(bool on, bool editable) {
  auto* item = new QTableWidgetItem;
  item->setFlags(Qt::ItemIsEnabled | (editable ? Qt::ItemIsUserCheckable : Qt::NoItemFlags));
  item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  item->setTextAlignment(Qt::AlignCenter);
  return item;
}

bool Ticked(const QTableWidgetItem* item) { return item && item->checkState() == Qt::Checked; }

}  // namespace

AclDialog::AclDialog(QWidget* parent, TQuireDatabase& database, std::function<void(const QString&)> status)
    : QDialog(parent), database_(database), acl_(database.GetACL()), status_(std::move(status)) {
  setWindowTitle(QStringLiteral("Access control - %1").arg(QString::fromStdString(database.GetTitle())));
  HTINT level = 0;
  HTUINT flags = 0;
  const HTSTATUS known = HTAPI.HTACLGetAccessLevel(database.DbHandle, &level, &flags);
  editable_ = known == 0 && level >= alManager && acl_ != nullptr;

  auto* layout = new QVBoxLayout(this);
  note_ = new QLabel(this);
  note_->setWordWrap(true);
  const QString user = QString::fromStdString(TQuireSession().GetUserName());
  if (editable_) {
    note_->setText(QStringLiteral("%1 has Manager access: the list can be changed.").arg(user));
  } else {
    const QString held = known == 0 && level >= 0 && level <= alManager ? QString::fromLatin1(kLevels[level])
                                                                         : QStringLiteral("unknown");
    note_->setText(QStringLiteral("%1 has %2 access: only a Manager can change the list, so it is shown read only.")
                       .arg(user, held));
  }
  layout->addWidget(note_);
  table_ = new QTableWidget(this);
  table_->verticalHeader()->setVisible(false);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  layout->addWidget(table_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  save_ = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::ApplyRole);
  save_->setEnabled(editable_);
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  Fill();
  resize(std::max(640, table_->horizontalHeader()->length() + 40), 320);
}

AclDialog::~AclDialog() = default;

void AclDialog::Fill() {
  if (!acl_) {
    status_(QStringLiteral("Error: cannot read the access control list: %1")
                .arg(QString::fromStdString(database_.GetNotesErrorString())));
    return;
  }
  roles_.clear();
  for (int i = 0, n = acl_->GetRoleCount(); i < n; ++i) {
    std::string name;
    acl_->GetRoleName(i, name);
    if (!name.empty()) roles_ << QString::fromStdString(name);
  }
  QStringList headers = {QStringLiteral("Entry"), QStringLiteral("Level"), QStringLiteral("Create"),
                         QStringLiteral("Delete"), QStringLiteral("Agents"), QStringLiteral("Folders")};
  headers << roles_;
  table_->setColumnCount(int(headers.size()));
  table_->setHorizontalHeaderLabels(headers);
  table_->setRowCount(acl_->GetEntrycount());
  int row = 0;
  for (TQuireACLEntry* entry = acl_->GetFirstEntry(); entry && row < table_->rowCount();
       entry = acl_->GetNextEntry(entry), ++row) {
    auto* name = new QTableWidgetItem(QString::fromStdString(entry->GetName()));
    name->setFlags(Qt::ItemIsEnabled);
    table_->setItem(row, kName, name);
    auto* level = new QComboBox(table_);
    for (const char* text : kLevels) level->addItem(QString::fromLatin1(text));
    level->setCurrentIndex(int(entry->GetLevel()));
    level->setEnabled(editable_);
    table_->setCellWidget(row, kLevel, level);
    table_->setItem(row, kCreate, Tick(entry->GetCanCreateDocuments(), editable_));
    table_->setItem(row, kDelete, Tick(entry->GetCanDeleteDocuments(), editable_));
    table_->setItem(row, kAgents, Tick(entry->GetCanCreatePersonalAgent(), editable_));
    table_->setItem(row, kFolders, Tick(entry->GetCanCreatePersonalFolder(), editable_));
    for (int r = 0; r < roles_.size(); ++r)
      table_->setItem(row, kFirstRole + r, Tick(entry->IsRoleEnabled(roles_[r].toStdString()), editable_));
  }
  table_->setRowCount(row);
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
}

int AclDialog::RowOf(const QString& name) const {
  for (int row = 0; row < table_->rowCount(); ++row)
    if (table_->item(row, kName) && table_->item(row, kName)->text().compare(name, Qt::CaseInsensitive) == 0)
      return row;
  return -1;
}

bool AclDialog::SetLevel(const QString& name, int level) {
  const int row = RowOf(name);
  auto* box = row < 0 ? nullptr : qobject_cast<QComboBox*>(table_->cellWidget(row, kLevel));
  if (!box || !editable_ || level < 0 || level >= box->count()) return false;
  box->setCurrentIndex(level);
  return true;
}

bool AclDialog::SetRole(const QString& entry, const QString& role, bool on) {
  const int row = RowOf(entry);
  const int column = int(roles_.indexOf(role));
  if (row < 0 || column < 0 || !editable_) return false;
  table_->item(row, kFirstRole + column)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  return true;
}

bool AclDialog::Save() {
  if (!editable_) {
    status_(QStringLiteral("Only a Manager can change the access control list."));
    return false;
  }
  bool all = true;
  for (int row = 0; row < table_->rowCount(); ++row) {
    const QString name = table_->item(row, kName)->text();
    TQuireACLEntry* entry = acl_->GetEntry(name.toStdString());
    if (!entry) continue;
    auto* level = qobject_cast<QComboBox*>(table_->cellWidget(row, kLevel));
    entry->SetLevel(TQRAccessLevel(level->currentIndex()));
    entry->SetCanCreateDocuments(Ticked(table_->item(row, kCreate)));
    entry->SetCanDeleteDocuments(Ticked(table_->item(row, kDelete)));
    entry->SetCanCreatePersonalAgent(Ticked(table_->item(row, kAgents)));
    entry->SetCanCreatePersonalFolder(Ticked(table_->item(row, kFolders)));
    for (int r = 0; r < roles_.size(); ++r) {
      const std::string role = roles_[r].toStdString();
      if (Ticked(table_->item(row, kFirstRole + r))) entry->EnableRole(role);
      else entry->DisableRole(role);
    }
    if (!entry->Save() && entry->LastError != 0) {
      all = false;
      status_(QStringLiteral("Error: the entry %1 was not saved: %2")
                  .arg(name, QString::fromStdString(entry->GetNotesErrorString())));
    }
  }
  if (all) status_(QStringLiteral("Access control list saved."));
  return all;
}
