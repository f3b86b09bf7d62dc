// The explorer through a person's session, on the offscreen platform: open the sample
// database, pick the categorised view, walk it with the navigator, key-search a customer,
// full-text search a word, edit and save an item, add and delete documents, attach and
// extract a file, send a document as mail, and change the access control list; each result
// is checked in the database through the object model, not in the explorer's own widgets.
// The slots run in order and share one explorer, as one person's session would.
#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QTreeView>
#include <fstream>
#include <memory>

#include "components/QRData.h"
#include "components/QRMail.h"
#include "components/QRNav.h"
#include "objects/QRAcl.h"
#include "objects/QRAclEnt.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/Quiredoc.h"
#include "tests/framework/QtTestSupport.h"
#include "tools/explorer/AclDialog.h"
#include "tools/explorer/Explorer.h"
#include "tools/explorer/RowModel.h"

namespace {

constexpr int kOrders = 300;
constexpr int kCustomers = 6;

double SampleTotal() {
  double total = 0;
  for (int i = 0; i < kOrders; ++i) total += 25.0 + double((i * 7919) % 2000) / 4.0;
  return total;
}

void Check(HTSTATUS status, const char* what) {
  if (status != 0) qFatal("%s: %s", what, GetNotesErrorText(status).c_str());
}

void AddPerson(TQuireDatabase& directory, const char* name, const char* mailFile) {
  auto doc = directory.CreateDocument("");
  doc->AppendTextItem("Form", "Person");
  doc->AppendTextItem("FullName", name);
  doc->AppendTextItem("MailFile", mailFile);
  doc->Save();
  Check(doc->LastError, "cannot save a person");
}

// The documents the formula selects in the sample database, seen afresh.
int CountIn(const std::string& path, const std::string& formula) {
  TQuireSession session;
  auto database = session.GetDatabase("", path);
  if (!database) return -1;
  auto found = database->Search(formula);
  return found ? found->GetCount() : -1;
}

std::unique_ptr<TQuireDocument> FirstIn(TQuireSession& session, std::unique_ptr<TQuireDatabase>& database,
                                        const std::string& formula) {
  database = session.GetDatabase("", "sample.nsf");
  if (!database) return nullptr;
  auto found = database->Search(formula);
  return found && found->GetCount() > 0 ? found->GetFirstDocument() : nullptr;
}

int ItemRow(QTableWidget& items, const QString& name) {
  for (int row = 0; row < items.rowCount(); ++row)
    if (items.item(row, Explorer::kItemName)->text() == name) return row;
  return -1;
}

QString ItemValue(QTableWidget& items, const QString& name) {
  const int row = ItemRow(items, name);
  return row < 0 ? QString() : items.item(row, Explorer::kItemValue)->text();
}

bool StatusHas(const Explorer& explorer, const QString& text) {
  for (const QString& line : explorer.StatusLines())
    if (line.contains(text)) return true;
  return false;
}

}  // namespace

class ExplorerTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Explorer> explorer_;
  std::unique_ptr<quireqt::MessageRecorder> boxes_;
  QTemporaryDir config_;

  void Click(TNDNavigateBtn button) { QTest::mouseClick(explorer_->Navigator()->Button(button), Qt::LeftButton); }
  QString Parent() { return explorer_->Tree()->currentIndex().parent().data().toString(); }
  QString Current(int column = 0) { return explorer_->Tree()->currentIndex().siblingAtColumn(column).data().toString(); }

 private slots:
  void initTestCase() {
    // Recent databases go to a settings file inside the test's own directory.
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    QCoreApplication::setOrganizationName("QuireTest");
    QCoreApplication::setApplicationName("ExplorerTest");
    boxes_ = std::make_unique<quireqt::MessageRecorder>();

    Check(HTAPI.HTDatabaseCreate("", "names.nsf", "Directory", "", HTDBCLASS_DATABASE), "names.nsf");
    Check(HTAPI.HTDatabaseCreate("", "mail\\manager.nsf", "Manager", "", HTDBCLASS_DATABASE), "manager mail");
    Check(HTAPI.HTDatabaseCreate("", "mail\\ann.nsf", "Ann Lee", "", HTDBCLASS_DATABASE), "ann mail");
    TQuireSession session;
    auto directory = session.GetDatabase("", "names.nsf");
    QVERIFY(directory);
    AddPerson(*directory, quireqt::kTestUser, "mail\\manager.nsf");
    AddPerson(*directory, "Ann Lee", "mail\\ann.nsf");

    explorer_ = std::make_unique<Explorer>();
    QVERIFY2(explorer_->Ok(), qPrintable(explorer_->FormError()));
    explorer_->Window()->resize(1180, 720);
    explorer_->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(explorer_->Window()));
  }

  void cleanupTestCase() {
    explorer_.reset();
    boxes_.reset();
  }

  void opensTheSampleItMakes() {
    QVERIFY(explorer_->OpenSample());
    QCOMPARE(CountIn("sample.nsf", "Form = \"Order\""), kOrders);
    QStringList views;
    for (int i = 0; i < explorer_->Views()->count(); ++i) views << explorer_->Views()->item(i)->text();
    QVERIFY2(views.contains("By Customer") && views.contains("Threads") && views.contains("Follow Up"),
             qPrintable(views.join(", ")));
    auto* title = explorer_->Window()->findChild<QLabel*>("lblDatabase");
    auto* info = explorer_->Window()->findChild<QLabel*>("lblInfo");
    QVERIFY(title->text().contains("Quire Sample"));
    QVERIFY2(info->text().contains("replica") && info->text().contains("full text indexed"), qPrintable(info->text()));
    QCOMPARE(Explorer::RecentDatabases().value(0), QString("sample.nsf"));
    QVERIFY(explorer_->Recent()->findData("sample.nsf") > 0);
  }

  void showsTheCategorisedViewWithTotalsReadingOnlyWhatIsShown() {
    QVERIFY(explorer_->ShowView("By Customer"));
    RowModel& model = *explorer_->Model();
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("Customer"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("Amount"));
    QVERIFY(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    QVERIFY(model.ColumnWidth(3) > model.ColumnWidth(2));
    // The customers and the total, and the orders of the first customer, where the control
    // stands; the orders of the others wait until their category opens.
    QCOMPARE(model.rowCount(), kCustomers + 1);
    QCOMPARE(model.RowsRead(), kCustomers + 1 + kOrders / kCustomers);
    QCOMPARE(model.rowCount(model.index(1, 0)), 0);
    const QModelIndex acme = model.index(0, 0);
    QCOMPARE(acme.data().toString(), QString("Acme Corp"));
    QCOMPARE(RowModel::Kind(acme.data(RowModel::KindRole).toInt()), RowModel::Kind::Category);
    QVERIFY(acme.data(Qt::FontRole).value<QFont>().bold());
    const QModelIndex total = model.index(kCustomers, 2);
    QCOMPARE(RowModel::Kind(total.data(RowModel::KindRole).toInt()), RowModel::Kind::Total);
    QCOMPARE(total.data().toString().remove(',').toDouble(), SampleTotal());
    // Collapsing and expanding: the category's orders are read when it opens.
    const QModelIndex birch = model.index(1, 0);
    explorer_->Tree()->expand(birch);
    QCOMPARE(model.rowCount(birch), kOrders / kCustomers);
    QCOMPARE(model.RowsRead(), kCustomers + 1 + 2 * kOrders / kCustomers);
    QVERIFY(model.index(0, 0, acme).data().toString().isEmpty());  // the category shows once
    QVERIFY(!model.index(0, 3, acme).data().toString().isEmpty());
    explorer_->Tree()->collapse(birch);
    QVERIFY(!explorer_->Tree()->isExpanded(birch));
  }

  void theNavigatorMovesTheSelectionAndTheItemPanel() {
    QTableWidget& items = *explorer_->Items();
    // Opening moved to the first document, under its category.
    QCOMPARE(explorer_->DataCtrl()->GetPosition(), 2);
    QCOMPARE(Parent(), QString("Acme Corp"));
    QVERIFY(explorer_->Tree()->isExpanded(explorer_->Model()->index(0, 0)));
    QCOMPARE(ItemValue(items, "Customer"), QString("Acme Corp"));
    const QString first = ItemValue(items, "Subject");
    QCOMPARE(first, Current(3));
    Click(qrbNext);
    QCOMPARE(explorer_->DataCtrl()->GetPosition(), 3);
    QCOMPARE(Parent(), QString("Acme Corp"));
    QCOMPARE(ItemValue(items, "Subject"), Current(3));
    QCOMPARE(explorer_->Tree()->currentIndex().row(), 1);
    Click(qrbLast);  // the last order of the last customer
    QCOMPARE(Parent(), QString("Fjord Shipping"));
    QCOMPARE(explorer_->Tree()->currentIndex().row(), kOrders / kCustomers - 1);
    QCOMPARE(ItemValue(items, "Customer"), QString("Fjord Shipping"));
    Click(qrbPrior);
    QCOMPARE(explorer_->Tree()->currentIndex().row(), kOrders / kCustomers - 2);
    // A click in the tree moves the control the other way; on a category the control goes
    // on to its first document, and the selection follows it there.
    const QModelIndex cobalt = explorer_->Model()->index(2, 0);
    explorer_->Tree()->setCurrentIndex(cobalt);
    QCOMPARE(explorer_->DataCtrl()->GetPosition(), explorer_->Model()->PositionOf(cobalt) + 1);
    QCOMPARE(Parent(), QString("Cobalt Labs"));
    QCOMPARE(ItemValue(items, "Customer"), QString("Cobalt Labs"));
    const QModelIndex later = explorer_->Model()->index(5, 0, cobalt);
    explorer_->Tree()->setCurrentIndex(later);
    QCOMPARE(explorer_->DataCtrl()->GetPosition(), explorer_->Model()->PositionOf(later));
    QCOMPARE(ItemValue(items, "Subject"), later.siblingAtColumn(3).data().toString());
    Click(qrbFirst);
    QCOMPARE(Parent(), QString("Acme Corp"));
    QCOMPARE(ItemValue(items, "Subject"), first);
  }

  void keySearchFindsACustomer() {
    QVERIFY(explorer_->KeySearch("Delta"));
    QCOMPARE(Parent(), QString("Delta Freight"));
    QCOMPARE(ItemValue(*explorer_->Items(), "Customer"), QString("Delta Freight"));
    QVERIFY(!explorer_->KeySearch("Zebra Imports"));
    QVERIFY(StatusHas(*explorer_, "No entry begins with \"Zebra Imports\""));
  }

  void fullTextSearchShowsTheResultsAndClears() {
    const int found = explorer_->FullTextSearch("urgent");
    QCOMPARE(found, CountIn("sample.nsf", "@Contains(Subject; \"urgent\")"));
    QVERIFY(found > 0);
    RowModel& model = *explorer_->Model();
    QCOMPARE(model.rowCount(), found);
    for (int row = 0; row < found; ++row) QVERIFY(model.index(row, 3).data().toString().contains("urgent"));
    QVERIFY(ItemValue(*explorer_->Items(), "Subject").contains("urgent"));
    Click(qrbNext);
    QCOMPARE(explorer_->Tree()->currentIndex().row(), 1);
    explorer_->ClearFullText();
    QCOMPARE(model.rowCount(), kCustomers + 1);
    QCOMPARE(Parent(), QString("Acme Corp"));
  }

  void showsResponsesUnderTheirOrdersAndFoldersFlat() {
    QVERIFY(explorer_->ShowView("Threads"));
    RowModel& model = *explorer_->Model();
    // Three hundred orders at the top: read a batch at a time as the tree asks.
    const int shown = model.rowCount();
    QVERIFY(shown >= RowModel::kBatch && shown < kOrders && shown % RowModel::kBatch == 0);
    QVERIFY(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    QCOMPARE(model.rowCount(), shown + RowModel::kBatch);
    int answered = -1;
    for (int row = 0; row < model.rowCount() && answered < 0; ++row)
      if (model.hasChildren(model.index(row, 0))) answered = row;
    QVERIFY(answered >= 0);
    const QModelIndex order = model.index(answered, 0);
    explorer_->Tree()->expand(order);  // read when the tree lays the row out
    QTRY_COMPARE(model.rowCount(order), 1);
    const QString comment = model.index(0, 0, order).data().toString();
    QVERIFY2(comment == "Confirmed by phone" || comment.startsWith("Waiting"), qPrintable(comment));

    // The folder, made from the categorised view, keeps its categories, but in one flat list.
    QVERIFY(explorer_->ShowView("Follow Up"));
    int documents = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
      QVERIFY(!model.hasChildren(model.index(row, 0)));
      documents += RowModel::Kind(model.index(row, 0).data(RowModel::KindRole).toInt()) == RowModel::Kind::Document;
    }
    QCOMPARE(documents, (kOrders + 36) / 37);
    QCOMPARE(RowModel::Kind(model.index(0, 0).data(RowModel::KindRole).toInt()), RowModel::Kind::Category);
    QCOMPARE(explorer_->DataCtrl()->RecordsetType(), dFolder);
    QVERIFY(explorer_->ShowView("By Customer"));
    QCOMPARE(explorer_->DataCtrl()->RecordsetType(), dView);
  }

  void editsAndPostsItems() {
    QTableWidget& items = *explorer_->Items();
    Click(qrbNext);
    const QString subject = ItemValue(items, "Subject");
    const QString customer = ItemValue(items, "Customer");
    const int sameSubject = CountIn("sample.nsf", "Subject = \"" + subject.toStdString() + "\"");
    // Typed into the editor, as a person would.
    items.item(ItemRow(items, "Subject"), Explorer::kItemValue)->setText("Edited in the explorer");
    items.item(ItemRow(items, "Amount"), Explorer::kItemValue)->setText("twelve");
    QVERIFY(StatusHas(*explorer_, "\"twelve\" is not a number"));
    QVERIFY(ItemValue(items, "Amount") != "twelve");
    items.item(ItemRow(items, "Amount"), Explorer::kItemValue)->setText("1234.5");
    QCOMPARE(CountIn("sample.nsf", "Subject = \"Edited in the explorer\""), 0);  // not before Post
    Click(qrbPost);
    QVERIFY(StatusHas(*explorer_, "Document saved."));
    TQuireSession session;
    std::unique_ptr<TQuireDatabase> database;
    auto doc = FirstIn(session, database, "Subject = \"Edited in the explorer\"");
    QVERIFY(doc);
    QCOMPARE(QString::fromStdString(doc->GetItemByName("Customer")->GetText()), customer);
    QCOMPARE(doc->GetItemByName("Amount")->GetAsNumber(), 1234.5);
    QCOMPARE(CountIn("sample.nsf", "Subject = \"" + subject.toStdString() + "\""), sameSubject - 1);

    // The other kinds of item: a date-time and a text list added, edited and posted.
    QVERIFY(explorer_->AddItem("Due", Explorer::kNewDateTime, QString()));
    QVERIFY(explorer_->AddItem("Tags", Explorer::kNewTextList, "first"));
    QVERIFY(explorer_->SetItemValue("Due", "2026-03-04 05:06:07"));
    QVERIFY(!explorer_->SetItemValue("Due", "next Tuesday"));
    QVERIFY(explorer_->SetItemValue("Tags", "red; green ;blue"));
    Click(qrbPost);
    doc = FirstIn(session, database, "Subject = \"Edited in the explorer\"");
    QVERIFY(doc);
    auto* tags = doc->GetItemByName("Tags");
    QVERIFY(tags && tags->ItemType == qrTypeTextList);
    QCOMPARE(CountIn("sample.nsf", "Tags = \"green\" & Tags = \"blue\" & Tags = \"red\""), 1);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    QVERIFY(rtl::DecodeDate(doc->GetItemByName("Due")->GetAsDate(), year, month, day));
    QVERIFY(rtl::DecodeTime(doc->GetItemByName("Due")->GetAsDate(), hour, minute, second, ms));
    QCOMPARE(QList<int>({year, month, day, hour, minute, second}), QList<int>({2026, 3, 4, 5, 6, 7}));
  }

  void insertsAndDeletesDocumentsAskingFirst() {
    const int before = CountIn("sample.nsf", "Form = \"Order\"");
    Click(qrbInsert);  // of the form of the document that was current
    QVERIFY(explorer_->DataCtrl()->GetDocIsNew());
    QVERIFY(explorer_->AddItem("Form", Explorer::kNewText, "Order"));
    QVERIFY(explorer_->AddItem("Customer", Explorer::kNewText, "Acme Corp"));
    QVERIFY(explorer_->AddItem("Subject", Explorer::kNewText, "Made in the explorer"));
    QVERIFY(explorer_->AddItem("Amount", Explorer::kNewNumber, "10"));
    Click(qrbPost);
    QCOMPARE(CountIn("sample.nsf", "Form = \"Order\""), before + 1);

    QVERIFY(explorer_->KeySearch("Acme"));
    Click(qrbNext);
    const QString subject = ItemValue(*explorer_->Items(), "Subject");
    const int sameSubject = CountIn("sample.nsf", "Subject = \"" + subject.toStdString() + "\"");
    QStringList asked;
    explorer_->Confirm = [&](const QString& question) {
      asked << question;
      return false;
    };
    explorer_->DeleteCurrent();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(CountIn("sample.nsf", "Form = \"Order\""), before + 1);
    explorer_->Confirm = [&](const QString& question) {
      asked << question;
      return true;
    };
    Click(qrbDelete);  // the navigator's own button: the explorer still asks
    QCOMPARE(asked.size(), 2);
    QCOMPARE(CountIn("sample.nsf", "Form = \"Order\""), before);
    QCOMPARE(CountIn("sample.nsf", "Subject = \"" + subject.toStdString() + "\""), sameSubject - 1);
    QVERIFY(explorer_->Tree()->currentIndex().isValid());
  }

  void attachesAndExtractsFiles() {
    const std::string bytes("PK\0\x01\xff binary\r\n", 14);
    const QString source = QString::fromStdString(quireqt::DataDir() + "/invoice.bin");
    std::ofstream(source.toStdString(), std::ios::binary) << bytes;
    QVERIFY(explorer_->KeySearch("Birch"));
    Click(qrbNext);
    const QString subject = ItemValue(*explorer_->Items(), "Subject");
    explorer_->AttachFile(source);
    QCOMPARE(explorer_->Attachments()->count(), 1);
    Click(qrbPost);
    Click(qrbNext);
    Click(qrbPrior);
    QCOMPARE(ItemValue(*explorer_->Items(), "Subject"), subject);
    QCOMPARE(explorer_->Attachments()->count(), 1);
    const QString target = QString::fromStdString(quireqt::DataDir() + "/extracted.bin");
    explorer_->ExtractAttachment(explorer_->Attachments()->item(0)->text(), target);
    QFile extracted(target);
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    QCOMPARE(extracted.readAll().toStdString(), bytes);
    explorer_->AttachFile(QString::fromStdString(quireqt::DataDir() + "/missing.bin"));
    QVERIFY(StatusHas(*explorer_, "Error: cannot attach"));
  }

  void sendsTheDocumentAsMailAndReportsFailures() {
    const QString subject = ItemValue(*explorer_->Items(), "Subject");
    QVERIFY(explorer_->SendAsMail("Ann Lee", subject, "See the order below.", {}));
    QVERIFY(StatusHas(*explorer_, "Mail sent to Ann Lee"));
    TQuireSession session;
    auto inbox = session.GetDatabase("", "mail\\ann.nsf");
    QVERIFY(inbox);
    auto found = inbox->Search("Form = \"Memo\" & Subject = \"" + subject.toStdString() + "\"");
    QVERIFY(found);
    QCOMPARE(found->GetCount(), 1);

    // A failure comes back through the component's error event into the status area and
    // the modal box.
    const size_t shown = boxes_->messages.size();
    explorer_->SendMail()->CloseDatabase();
    explorer_->SendMail()->SetMailFile("mail\\nobody.nsf");
    QVERIFY(!explorer_->SendAsMail("Ann Lee", "Lost", "", {}));
    QVERIFY(StatusHas(*explorer_, "Mail error:"));
    QCOMPARE(boxes_->messages.size(), shown + 1);
    explorer_->SendMail()->SetMailFile("");
  }

  void dataControlErrorsReachTheStatusArea() {
    const size_t shown = boxes_->messages.size();
    TQuireDataCtrl& control = *explorer_->DataCtrl();
    control.CloseRecordset();
    control.SetViewName("No Such View");
    QVERIFY(!control.OpenRecordset());
    QVERIFY(StatusHas(*explorer_, "Error: "));
    QCOMPARE(boxes_->messages.size(), shown + 1);
    QVERIFY(explorer_->ShowView("By Customer"));
  }

  void aManagerEditsTheAccessControlList() {
    std::unique_ptr<AclDialog> dialog(static_cast<AclDialog*>(explorer_->ShowAclDialog()));
    QVERIFY(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(dialog->Editable());
    QVERIFY(dialog->Entries()->rowCount() >= 4);
    QVERIFY(dialog->SetLevel("Ann Reader", alAuthor));
    QVERIFY(dialog->SetRole("Ann Reader", "[Reviewers]", true));
    QVERIFY(dialog->Save());
    TQuireSession session;
    auto database = session.GetDatabase("", "sample.nsf");
    auto acl = database->GetACL();
    TQuireACLEntry* ann = acl->GetEntry("Ann Reader");
    QVERIFY(ann);
    QCOMPARE(ann->GetLevel(), alAuthor);
    QVERIFY(ann->IsRoleEnabled("[Reviewers]"));
  }

  void anyoneElseSeesItReadOnly() {
    // A database whose list, enforced, gives the user Editor access only.
    Check(HTAPI.HTDatabaseCreate("", "editor.nsf", "Editor only", "", HTDBCLASS_DATABASE), "editor.nsf");
    {
      TQuireSession session;
      auto database = session.GetDatabase("", "editor.nsf");
      auto acl = database->GetACL();
      acl->SetUniformAccess(true);
      TQuireACLEntry* self = acl->GetEntry(quireqt::kTestUser);
      QVERIFY(self);
      self->SetLevel(alEditor);
      QVERIFY(self->Save());
    }
    QVERIFY(explorer_->Open("editor.nsf"));
    std::unique_ptr<AclDialog> dialog(static_cast<AclDialog*>(explorer_->ShowAclDialog()));
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(!dialog->Editable());
    QVERIFY(dialog->Note()->text().contains("Editor access"));
    QVERIFY(!dialog->SetLevel(quireqt::kTestUser, alManager));
    QVERIFY(!dialog->Save());
    TQuireSession session;
    auto acl = session.GetDatabase("", "editor.nsf")->GetACL();
    QCOMPARE(acl->GetEntry(quireqt::kTestUser)->GetLevel(), alEditor);
    QCOMPARE(Explorer::RecentDatabases().mid(0, 2), QStringList({"editor.nsf", "sample.nsf"}));
  }

  void opensByServerAndPathAndRefusesWhatIsNotThere() {
    QVERIFY(explorer_->Open("!!sample.nsf"));
    QVERIFY(!explorer_->Open("nowhere\\missing.nsf"));
    QVERIFY(StatusHas(*explorer_, "Cannot open nowhere\\missing.nsf"));
    QVERIFY(!explorer_->ShowView("By Customer"));  // nothing open any more
  }
};

QUIRE_QTEST_MAIN(ExplorerTest)
#include "Explorer_test.moc"
