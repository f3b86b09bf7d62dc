// AclDialog: the access control list of a database, for reading and, by a Manager, editing.
//
// One row per entry: its name, its level, four flags (create and delete documents, personal
// agents, personal folders) and one column per role of the database. The person's own access
// decides: a Manager edits, and Save writes every entry back; anyone else sees the list read
// only, with a line saying why. The engine stays the judge: a save it refuses is reported
// through `status` and leaves the dialog open.
//
// Ownership: the dialog makes and owns its own ACL object over `database`, which must stay
// open while the dialog lives. Threads: the GUI thread only.
#pragma once

#include <QtWidgets/QDialog>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTableWidget;
class TQuireACL;
class TQuireDatabase;

class AclDialog : public QDialog {
  Q_OBJECT

 public:
  enum Column { kName = 0, kLevel, kCreate, kDelete, kAgents, kFolders, kFirstRole };

  AclDialog(QWidget* parent, TQuireDatabase& database, std::function<void(const QString&)> status);
  ~AclDialog() override;

  bool Editable() const { return editable_; }
  QTableWidget* Entries() const { return table_; }
  QLabel* Note() const { return note_; }
  // Sets the level of the entry of that name in the table (not yet saved).
  bool SetLevel(const QString& name, int level);
  // Ticks or clears the role of that name for the entry of that name (not yet saved).
  bool SetRole(const QString& entry, const QString& role, bool on);
  // Writes every row back; false when not editable or when the engine refused an entry.
  bool Save();

 private:
  void Fill();
  int RowOf(const QString& name) const;

  TQuireDatabase& database_;
  std::unique_ptr<TQuireACL> acl_;
  std::function<void(const QString&)> status_;
  bool editable_ = false;
  QStringList roles_;
  QTableWidget* table_ = nullptr;
  QLabel* note_ = nullptr;
  QPushButton* save_ = nullptr;
};
