// A form made in Designer (forms/Orders.ui) bound to the categorised view of the sample
// database that `quire demo` makes: it loads inactive with its detail control linked by name,
// and walking it reports every order, every customer category and the grand total.
#include <QtCore/QProcess>
#include <QtWidgets/QLabel>

#include "framework/QRFormLoader.h"
#include "tests/components/DataTestSupport.h"

using datatest::EventLog;

namespace {

constexpr int kOrders = 300;
constexpr int kCustomers = 6;

// The amounts the sample gives its orders.
double SampleTotal() {
  double total = 0;
  for (int i = 0; i < kOrders; ++i) total += 25.0 + double((i * 7919) % 2000) / 4.0;
  return total;
}

}  // namespace

class DataFormTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
#ifndef QUIRE_CLI
    QSKIP("the quire tool is not part of this build");
#else
    QProcess demo;
    demo.start(QStringLiteral(QUIRE_CLI), {"demo"});  // inherits this program's QUIRE_DATA
    QVERIFY(demo.waitForFinished(120000));
    QVERIFY2(demo.exitCode() == 0, demo.readAllStandardError().constData());
#endif
  }

  void theOrdersFormWalksTheSampleView() {
    QRFormLoader loader;
    form_ = loader.Load(QStringLiteral(QUIRE_FORMS_DIR "/Orders.ui"));
    QVERIFY2(form_, qPrintable(loader.ErrorString()));
    auto* orders = form_->findChild<TQuireDataCtrl*>("Orders");
    auto* comments = form_->findChild<TQuireDataCtrl*>("Comments");
    auto* customer = form_->findChild<QLabel*>("Customer");
    auto* subject = form_->findChild<QLabel*>("Subject");
    QVERIFY(orders && comments && customer && subject);
    QVERIFY(!orders->Active() && !comments->Active());
    QCOMPARE(comments->MasterCtrl(), static_cast<TQuireCtrl*>(orders));
    QCOMPARE(orders->EOFBehaviour(), eoEvents);

    // The application's part: activate, open, and show the current entry in the labels.
    int documents = 0, categories = 0, totals = 0, ends = 0;
    QString lastCategory;
    double total = 0;
    orders->OnMove = [&](QObject*, int posn, const QString& unid, bool isDoc, bool isCategory, bool isTotal) {
      QVERIFY(posn > 0);
      // Past the end the flags of the last row stay, without a document.
      if (isDoc && !unid.isEmpty()) {
        QCOMPARE(unid.size(), 32);
        ++documents;
        subject->setText(orders->GetItemAsString("Subject"));
      }
      if (isCategory || isTotal) QVERIFY(unid.isEmpty());
      if (isCategory) {
        ++categories;
        lastCategory = orders->GetViewCellText(1);
        customer->setText(lastCategory);
      }
      if (isTotal) {
        ++totals;
        total = orders->GetViewCellText(3).toDouble();
      }
    };
    orders->OnEOF = [&](QObject*) { ++ends; };
    comments->SetActive(true);  // through the master
    QVERIFY(orders->Active() && comments->Active());
    QCOMPARE(comments->Session(), orders->Session());
    QVERIFY(orders->OpenDatabase());
    QVERIFY(orders->OpenRecordset());
    QCOMPARE(documents, 1);
    QVERIFY(!subject->text().isEmpty() && subject->text() != "-");

    // Every order, row by row, until the end is announced.
    while (ends == 0) orders->MoveNext();
    QCOMPARE(documents, kOrders);
    QVERIFY(!orders->DocLoaded());

    // The customers and the grand total, through the hierarchy.
    orders->MoveFirst();
    orders->MovePrevParent();
    for (int guard = 0; guard < 2 * kCustomers && totals == 0; ++guard) orders->MoveNextSibling();
    QCOMPARE(categories, kCustomers);
    QCOMPARE(totals, 1);
    QCOMPARE(customer->text(), QString("Fjord Shipping"));
    QVERIFY(qAbs(total - SampleTotal()) < 0.01);

    // The detail control opens its own record set on the shared session.
    QVERIFY(comments->OpenDatabase());
    QVERIFY(comments->OpenRecordset());
    QVERIFY(comments->GetDocCount() > kOrders);
  }

  void cleanupTestCase() { form_.reset(); }

 private:
  std::unique_ptr<QWidget> form_;
};

QUIRE_QTEST_MAIN(DataFormTest)
#include "QRDataForm_test.moc"
