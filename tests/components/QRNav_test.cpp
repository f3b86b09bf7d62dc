// The navigator: its layout, keyboard focus, auto-repeat, glyphs, form loading and what each
// button does to a real data control over the engine.
#include <QtCore/QBuffer>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QVBoxLayout>
#include <stdexcept>

#include "components/QRNav.h"
#include "framework/QRFormLoader.h"
#include "tests/components/DataTestSupport.h"

using datatest::Fixture;

namespace {

std::vector<int> ButtonWidths(const TNDBNavigator& nav) {
  std::vector<int> widths;
  for (int i = 0; i < 9; ++i) widths.push_back(nav.Button(TNDNavigateBtn(i))->width());
  return widths;
}

// A navigator in a dialog beside a line edit, shown and active, holding the focus.
struct FocusedNavigator {
  FocusedNavigator() {
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLineEdit(&dialog));
    nav = new TNDBNavigator(&dialog);
    layout->addWidget(nav);
    nav->SetTabStop(true);
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog)) qFatal("the dialog did not become active");
    nav->setFocus();
  }
  QDialog dialog;
  TNDBNavigator* nav;
};

}  // namespace

class NavigatorTest : public QObject {
  Q_OBJECT

 private slots:
  void publishedPropertiesAndDefaults() {
    TNDBNavigator nav;
    QCOMPARE(nav.VisibleButtons(), AllButtons());
    QVERIFY(nav.ConfirmDelete());
    QVERIFY(nav.NotesDataCtrl() == nullptr);
    QVERIFY(nav.Hints().isEmpty());
    QCOMPARE(nav.FocusedButton(), qrbFirst);
    QCOMPARE(nav.Align(), alNone);
    QStringList names;
    const QMetaObject& meta = TNDBNavigator::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) names << meta.property(i).name();
    QCOMPARE(names, QStringList({"VisibleButtons", "Align", "Hints", "NotesDataCtrl", "ConfirmDelete", "TabStop"}));
    // Only Prior and Next repeat; no button has a hint of its own.
    for (int i = 0; i < 9; ++i) {
      const TNDButton* button = nav.Button(TNDNavigateBtn(i));
      QCOMPARE(button->FIndex, TNDNavigateBtn(i));
      QCOMPARE(bool(button->FNavStyle & nsAllowTimer), i == qrbPrior || i == qrbNext);
      QVERIFY(button->toolTip().isEmpty());
      QVERIFY(button->isEnabled());
    }
  }

  void eachButtonShowsItsTwoGlyphs() {
    TNDBNavigator nav;
    for (int i = 0; i < 9; ++i) {
      const QIcon icon = nav.Button(TNDNavigateBtn(i))->icon();
      QVERIFY2(!icon.isNull(), qPrintable(QString::number(i)));
      const QImage enabled = icon.pixmap(16, QIcon::Normal).toImage();
      const QImage disabled = icon.pixmap(16, QIcon::Disabled).toImage();
      QCOMPARE(enabled.size(), QSize(16, 16));
      QVERIFY(enabled != disabled);
    }
  }

  void layoutWidths_data() {
    QTest::addColumn<int>("align");
    QTest::addColumn<QRect>("requested");
    QTest::addColumn<QSize>("result");
    QTest::addColumn<std::vector<int>>("widths");
    const std::vector<int> nine26(9, 26);
    QTest::newRow("free-standing rounds down") << int(alNone) << QRect(5, 6, 241, 25) << QSize(234, 25) << nine26;
    QTest::newRow("aligned spreads the rest")
        << int(QRNav::alTop) << QRect(0, 0, 241, 25) << QSize(241, 25)
        << std::vector<int>({27, 27, 26, 27, 27, 27, 26, 27, 27});
    QTest::newRow("minimum size") << int(alNone) << QRect(0, 0, 100, 10) << QSize(180, 18)
                                  << std::vector<int>(9, 20);
    QTest::newRow("exact multiple") << int(QRNav::alClient) << QRect(0, 0, 270, 30) << QSize(270, 30)
                                    << std::vector<int>(9, 30);
  }
  void layoutWidths() {
    QFETCH(int, align);
    QFETCH(QRect, requested);
    QFETCH(QSize, result);
    QFETCH(std::vector<int>, widths);
    TNDBNavigator nav;
    nav.SetAlign(TAlign(align));
    nav.SetBounds(requested.x(), requested.y(), requested.width(), requested.height());
    QCOMPARE(nav.size(), result);
    QCOMPARE(nav.pos(), requested.topLeft());
    QCOMPARE(ButtonWidths(nav), widths);
    int x = 0;
    for (int i = 0; i < 9; ++i) {
      const QRect r = nav.Button(TNDNavigateBtn(i))->geometry();
      QCOMPARE(r.x(), x);
      QCOMPARE(r.height(), result.height());
      x += r.width();
    }
    QCOMPARE(x, result.width());
  }

  void aNewNavigatorIsNineButtonsOf26() {
    TNDBNavigator nav;
    QCOMPARE(nav.size(), QSize(234, 25));
    QCOMPARE(ButtonWidths(nav), std::vector<int>(9, 26));
    // A resize of the shown widget goes through the same layout.
    nav.show();
    nav.resize(300, 40);
    QCOMPARE(nav.size(), QSize(297, 40));
    QCOMPARE(nav.ButtonWidth(), 33);
  }

  void hiddenButtonsSitRightOfTheBar() {
    TNDBNavigator nav;
    nav.SetVisible(AllButtons() & ~ButtonSetOf(qrbInsert) & ~ButtonSetOf(qrbDelete));
    QCOMPARE(nav.width(), 7 * 33);  // 234 shared by seven, rounded down
    QCOMPARE(nav.ButtonWidth(), 33);
    QVERIFY(nav.Button(qrbInsert)->isHidden());
    QCOMPARE(nav.Button(qrbInsert)->x(), nav.width() + 1);
    QCOMPARE(nav.Button(qrbPost)->x(), 4 * 33);

    nav.SetVisible(TButtonSet());
    nav.SetBounds(0, 0, 241, 25);
    QCOMPARE(nav.width(), 241);  // counted as one button
    QCOMPARE(nav.ButtonWidth(), 241);
    for (int i = 0; i < 9; ++i) {
      QVERIFY(nav.Button(TNDNavigateBtn(i))->isHidden());
      QCOMPARE(nav.Button(TNDNavigateBtn(i))->x(), 242);
    }
  }

  void hintsSkipEmptyLinesAndStopAtTheNinth() {
    TNDBNavigator nav;
    nav.Button(qrbPrior)->setToolTip("kept");
    nav.SetHints({"First record", "", "Next record"});
    QCOMPARE(nav.Button(qrbFirst)->toolTip(), QString("First record"));
    QCOMPARE(nav.Button(qrbPrior)->toolTip(), QString("kept"));
    QCOMPARE(nav.Button(qrbNext)->toolTip(), QString("Next record"));
    QStringList ten;
    for (int i = 0; i < 10; ++i) ten << QString("hint %1").arg(i);
    nav.SetHints(ten);
    QCOMPARE(nav.Button(qrbRefresh)->toolTip(), QString("hint 8"));
    QCOMPARE(nav.Hints().size(), 10);
  }

  void arrowKeysSkipHiddenButtonsButNotTheEnds() {
    FocusedNavigator f;
    TNDBNavigator& nav = *f.nav;
    QVERIFY(nav.hasFocus());
    nav.SetVisible(AllButtons() & ~ButtonSetOf(qrbInsert) & ~ButtonSetOf(qrbFirst));
    QTest::mouseClick(nav.Button(qrbLast), Qt::LeftButton);
    QCOMPARE(nav.FocusedButton(), qrbLast);
    QTest::keyClick(&nav, Qt::Key_Right);
    QCOMPARE(nav.FocusedButton(), qrbDelete);
    QTest::keyClick(&nav, Qt::Key_Left);
    QCOMPARE(nav.FocusedButton(), qrbLast);
    QTest::keyClick(&nav, Qt::Key_Left);
    QTest::keyClick(&nav, Qt::Key_Left);
    QCOMPARE(nav.FocusedButton(), qrbPrior);
    QTest::keyClick(&nav, Qt::Key_Left);  // ordinal 0 is taken although hidden
    QCOMPARE(nav.FocusedButton(), qrbFirst);
    QTest::keyClick(&nav, Qt::Key_Left);
    QCOMPARE(nav.FocusedButton(), qrbFirst);
    for (int i = 0; i < 12; ++i) QTest::keyClick(&nav, Qt::Key_Right);
    QCOMPARE(nav.FocusedButton(), qrbRefresh);
    QVERIFY(nav.hasFocus());  // the arrows stayed with the navigator inside the dialog

    std::vector<TNDNavigateBtn> clicks;
    nav.OnClick = [&](QObject* sender, TNDNavigateBtn button) {
      QCOMPARE(sender, &nav);
      clicks.push_back(button);
    };
    QTest::keyClick(&nav, Qt::Key_Space);
    QCOMPARE(clicks, std::vector<TNDNavigateBtn>({qrbRefresh}));
  }

  void aPressGivesTheNavigatorTheFocus() {
    FocusedNavigator f;
    auto* edit = f.dialog.findChild<QLineEdit*>();
    edit->setFocus();
    QVERIFY(!f.nav->hasFocus());
    QTest::mousePress(f.nav->Button(qrbPost), Qt::LeftButton);
    QVERIFY(f.nav->hasFocus());
    QCOMPARE(f.nav->FocusedButton(), qrbPost);
    QTest::mouseRelease(f.nav->Button(qrbPost), Qt::LeftButton);

    // Without TabStop the mark moves, the focus does not.
    f.nav->SetTabStop(false);
    edit->setFocus();
    QTest::mouseClick(f.nav->Button(qrbLast), Qt::LeftButton);
    QVERIFY(edit->hasFocus());
    QCOMPARE(f.nav->FocusedButton(), qrbLast);
  }

  // The timer is driven by hand: each TimerExpired is one tick of the clock.
  void heldNextRepeatsUntilReleased() {
    FocusedNavigator f;
    TNDBNavigator& nav = *f.nav;
    int clicks = 0;
    nav.OnClick = [&](QObject*, TNDNavigateBtn button) {
      QCOMPARE(button, qrbNext);
      ++clicks;
    };
    TNDButton* next = nav.Button(qrbNext);
    QVERIFY(next->RepeatTimer() == nullptr);
    QTest::mousePress(next, Qt::LeftButton);
    QVERIFY(next->RepeatTimer() != nullptr);
    QVERIFY(next->RepeatTimer()->isActive());
    QCOMPARE(next->RepeatTimer()->interval(), TNDBNavigator::kRepeatDelay);
    QCOMPARE(clicks, 0);
    next->RepeatTimer()->stop();  // the test is the clock from here
    next->TimerExpired();
    QCOMPARE(clicks, 1);
    QCOMPARE(next->RepeatTimer()->interval(), TNDBNavigator::kRepeatInterval);
    next->TimerExpired();
    next->TimerExpired();
    QCOMPARE(clicks, 3);
    QTest::mouseRelease(next, Qt::LeftButton);
    QCOMPARE(clicks, 4);  // the ordinary click
    QVERIFY(!next->RepeatTimer()->isActive());
    next->TimerExpired();  // a late tick after release
    QCOMPARE(clicks, 4);

    // Buttons without the style do not repeat.
    nav.OnClick = nullptr;
    QTest::mousePress(nav.Button(qrbLast), Qt::LeftButton);
    QVERIFY(nav.Button(qrbLast)->RepeatTimer() == nullptr);
    QTest::mouseRelease(nav.Button(qrbLast), Qt::LeftButton);
  }

  // The same on the real timer, asserting only that repeats come while held and stop after.
  void heldPriorRepeatsOnTheRealTimer() {
    FocusedNavigator f;
    int clicks = 0;
    f.nav->OnClick = [&](QObject*, TNDNavigateBtn) { ++clicks; };
    TNDButton* prior = f.nav->Button(qrbPrior);
    QTest::mousePress(prior, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(clicks >= 3, 5000);
    QTest::mouseRelease(prior, Qt::LeftButton);
    const int afterRelease = clicks;
    QTest::qWait(150);
    QCOMPARE(clicks, afterRelease);
  }

  void anExceptionFromARepeatStopsTheTimer() {
    FocusedNavigator f;
    f.nav->OnClick = [](QObject*, TNDNavigateBtn) { throw std::runtime_error("handler failed"); };
    TNDButton* next = f.nav->Button(qrbNext);
    QTest::mousePress(next, Qt::LeftButton);
    QVERIFY(next->RepeatTimer()->isActive());
    bool thrown = false;
    try {
      next->TimerExpired();
    } catch (const std::runtime_error&) {
      thrown = true;
    }
    QVERIFY(thrown);
    QVERIFY(!next->RepeatTimer()->isActive());
    f.nav->OnClick = nullptr;
    QTest::mouseRelease(next, Qt::LeftButton);
  }

  void buttonsDriveARealDataControl() {
    Fixture data("nav");
    data.Add("alpha");
    data.Add("bravo");
    data.Add("charlie");
    data.MakeView("Subjects", {datatest::Column("Subject", "Subject", HTCOLSORT_ASCEND)});
    const HTFORMITEM fields[] = {{"Status", HTTYPE_TEXT, 0, "draft", 0}};
    HTID form = 0;
    QCOMPARE(HTAPI.HTFormCreate(data.database->DbHandle, "Memo", 1, fields, &form), HTSTATUS(0));
    TQuireDataCtrl control;
    control.SetDBName(QString::fromStdString(data.path));
    control.SetViewName("Subjects");
    control.SetForm("Memo");
    control.SetActive(true);
    QVERIFY(control.OpenDatabase());
    QVERIFY(control.OpenRecordset());

    TNDBNavigator nav;
    nav.SetNotesDataCtrl(&control);
    std::vector<TNDNavigateBtn> clicks;
    nav.OnClick = [&](QObject*, TNDNavigateBtn button) { clicks.push_back(button); };
    const auto press = [&](TNDNavigateBtn button) { QTest::mouseClick(nav.Button(button), Qt::LeftButton); };
    const auto subject = [&] { return control.GetItemAsString("Subject"); };

    press(qrbLast);
    QCOMPARE(subject(), QString("charlie"));
    press(qrbPrior);
    QCOMPARE(subject(), QString("bravo"));
    press(qrbFirst);
    QCOMPARE(subject(), QString("alpha"));
    press(qrbNext);
    QCOMPARE(subject(), QString("bravo"));

    press(qrbCancel);  // changes nothing
    QCOMPARE(subject(), QString("bravo"));

    press(qrbInsert);
    QVERIFY(control.GetDocIsNew());
    QCOMPARE(control.GetItemAsString("Status"), QString("draft"));  // made from the control's Form
    control.DocAddTextItem("Subject", "delta");
    press(qrbPost);
    QVERIFY(!control.GetDocIsNew());
    press(qrbRefresh);
    QCOMPARE(control.GetDocCount(), 4);
    press(qrbLast);
    QCOMPARE(subject(), QString("delta"));

    // Delete asks nothing, whatever ConfirmDelete says.
    QVERIFY(nav.ConfirmDelete());
    quireqt::MessageRecorder recorder;
    press(qrbFirst);
    press(qrbDelete);
    QVERIFY(recorder.messages.empty());
    QCOMPARE(control.GetDocCount(), 3);
    QCOMPARE(subject(), QString("bravo"));

    QCOMPARE(clicks, std::vector<TNDNavigateBtn>({qrbLast, qrbPrior, qrbFirst, qrbNext, qrbCancel, qrbInsert,
                                                  qrbPost, qrbRefresh, qrbLast, qrbFirst, qrbDelete}));
  }

  void clicksWithoutAControlAndInDesignMode() {
    TNDBNavigator nav;
    std::vector<TNDNavigateBtn> clicks;
    nav.OnClick = [&](QObject*, TNDNavigateBtn button) { clicks.push_back(button); };
    QSignalSpy spy(&nav, &TNDBNavigator::buttonClicked);
    nav.BtnClick(qrbDelete);
    QCOMPARE(clicks, std::vector<TNDNavigateBtn>({qrbDelete}));
    QCOMPARE(spy.count(), 1);
    nav.SetDesigning(true);
    nav.BtnClick(qrbNext);
    QCOMPARE(clicks.size(), size_t(1));
    QCOMPARE(spy.count(), 1);
  }

  void destroyingTheControlClearsTheReference() {
    QWidget form;
    auto* control = new TQuireDataCtrl(&form);
    auto* nav = new TNDBNavigator(&form);
    nav->SetNotesDataCtrl(control);
    delete control;
    QVERIFY(nav->NotesDataCtrl() == nullptr);
    nav->BtnClick(qrbNext);  // nothing to act on, nothing breaks

    // On another form too.
    QWidget other;
    auto* remote = new TQuireDataCtrl(&other);
    nav->SetNotesDataCtrl(remote);
    delete remote;
    QVERIFY(nav->NotesDataCtrl() == nullptr);
  }

  void aFormRestoresPropertiesReferenceAndLayout() {
    QByteArray ui = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <property name="geometry"><rect><x>0</x><y>0</y><width>400</width><height>300</height></rect></property>
  <widget class="TNDBNavigator" name="NDBNavigator1">
   <property name="geometry"><rect><x>10</x><y>20</y><width>241</width><height>25</height></rect></property>
   <property name="VisibleButtons"><set>QRNavSet::qrbFirst|QRNavSet::qrbPrior|QRNavSet::qrbNext|QRNavSet::qrbLast</set></property>
   <property name="Hints"><stringlist><string>Go to the first</string><string></string><string>Go on</string></stringlist></property>
   <property name="NotesDataCtrl"><string>NotesDataCtrl1</string></property>
   <property name="ConfirmDelete"><bool>false</bool></property>
  </widget>
  <widget class="TQuireDataCtrl" name="NotesDataCtrl1"/>
 </widget>
</ui>)";
    QBuffer buffer(&ui);
    buffer.open(QIODevice::ReadOnly);
    QRFormLoader loader;
    auto form = loader.Load(buffer);
    QVERIFY2(form != nullptr, qPrintable(loader.ErrorString()));
    auto* nav = form->findChild<TNDBNavigator*>("NDBNavigator1");
    QVERIFY(nav != nullptr);
    QVERIFY(!nav->IsLoading());
    QCOMPARE(nav->NotesDataCtrl(), form->findChild<TQuireDataCtrl*>("NotesDataCtrl1"));
    QCOMPARE(nav->VisibleButtons(),
             ButtonSetOf(qrbFirst) | ButtonSetOf(qrbPrior) | ButtonSetOf(qrbNext) | ButtonSetOf(qrbLast));
    QVERIFY(!nav->ConfirmDelete());
    QCOMPARE(nav->Button(qrbFirst)->toolTip(), QString("Go to the first"));
    QCOMPARE(nav->Button(qrbNext)->toolTip(), QString("Go on"));
    // Laid out once loaded: four buttons of 60 in a bar of 240.
    QCOMPARE(nav->geometry(), QRect(10, 20, 240, 25));
    QCOMPARE(nav->ButtonWidth(), 60);
    QVERIFY(nav->Button(qrbInsert)->isHidden());
  }
};

QUIRE_QTEST_MAIN(NavigatorTest)
#include "QRNav_test.moc"
