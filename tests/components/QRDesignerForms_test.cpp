// Component references through Qt Designer itself: its form editor made headless from
// QtDesigner's components library, the plugin found on the plugin path as Designer finds it,
// references set through the property sheet as the property editor sets them, the form saved
// by the form window and read back both by the framework's form loader and by Designer.
#include <QtCore/QBuffer>
#include <QtDesigner/QDesignerComponents>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerFormWindowManagerInterface>
#include <QtDesigner/QDesignerIntegration>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionManager>
#include <QtGui/QAction>
#include <QtGui/QUndoStack>
#include <memory>

#include "components/QRData.h"
#include "components/QRNav.h"
#include "components/QRServls.h"
#include "framework/QRFormLoader.h"
#include "tests/framework/QtTestSupport.h"

namespace {

// A form as the widget box drops the components: each under its default name.
const char kForm[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <property name="geometry"><rect><x>0</x><y>0</y><width>400</width><height>200</height></rect></property>
  <widget class="TQuireDataCtrl" name="QuireDataCtrl">
   <property name="geometry"><rect><x>8</x><y>8</y><width>26</width><height>26</height></rect></property>
   <property name="DBName"><string>names.nsf</string></property>
  </widget>
  <widget class="TNDBNavigator" name="NDBNavigator">
   <property name="geometry"><rect><x>8</x><y>40</y><width>234</width><height>25</height></rect></property>
  </widget>
  <widget class="TQuireServerList" name="QuireServerList">
   <property name="geometry"><rect><x>8</x><y>80</y><width>150</width><height>22</height></rect></property>
  </widget>
 </widget>
</ui>
)";

std::unique_ptr<QWidget> LoadWithFramework(const QByteArray& xml, QString* error = nullptr) {
  QByteArray copy = xml;
  QBuffer in(&copy);
  in.open(QIODevice::ReadOnly);
  QRFormLoader loader;
  auto form = loader.Load(in);
  if (error) *error = loader.ErrorString();
  return form;
}

}  // namespace

class DesignerFormsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Designer keeps its settings under the user's configuration; keep them in the test's.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(quireqt::DataDir()));
    QCoreApplication::addLibraryPath(QStringLiteral(QUIRE_PLUGIN_ROOT));
    core_ = QDesignerComponents::createFormEditor(this);
    QDesignerComponents::createTaskMenu(core_, this);
    QDesignerComponents::initializePlugins(core_);
    core_->setPropertyEditor(QDesignerComponents::createPropertyEditor(core_, nullptr));
    new QDesignerIntegration(core_, this);
    QStringList loaded;
    for (QObject* plugin : core_->pluginInstances()) loaded << plugin->metaObject()->className();
    QVERIFY2(loaded.contains("QRDesignerPlugin"), qPrintable(loaded.join(", ")));
  }

  void cleanupTestCase() {
    windows_.clear();
    delete core_;
  }

  // The property editor's path: the cursor's setWidgetProperty on the sheet, an undoable
  // command. The saved form names the control, and the framework's loader resolves it.
  void aReferenceSetInDesignerLoadsThroughTheFramework() {
    QDesignerFormWindowInterface* window = NewWindow(kForm);
    QWidget* nav = window->mainContainer()->findChild<TNDBNavigator*>("NDBNavigator");
    QWidget* servers = window->mainContainer()->findChild<TQuireServerList*>("QuireServerList");
    QVERIFY(nav && servers);

    QDesignerPropertySheetExtension* sheet = Sheet(nav);
    const int index = sheet->indexOf("NotesDataCtrl");
    QVERIFY(index >= 0);
    QVERIFY(sheet->isVisible(index));
    QCOMPARE(sheet->propertyGroup(index), QString("TNDBNavigator"));
    QCOMPARE(sheet->property(index).toByteArray(), QByteArray());
    QVERIFY(!sheet->isChanged(index));
    // Designer's own properties keep their places and values beside it.
    QCOMPARE(sheet->propertyName(sheet->indexOf("ConfirmDelete")), QString("ConfirmDelete"));
    QCOMPARE(sheet->property(sheet->indexOf("geometry")).toRect(), QRect(8, 40, 234, 25));

    window->cursor()->setWidgetProperty(nav, "NotesDataCtrl", QByteArray("QuireDataCtrl"));
    window->cursor()->setWidgetProperty(servers, "MasterCtrl", QByteArray("QuireDataCtrl"));
    QCOMPARE(sheet->property(index).toByteArray(), QByteArray("QuireDataCtrl"));
    QVERIFY(sheet->isChanged(index));
    // Only a name at design time: the component itself is not linked.
    QCOMPARE(static_cast<TNDBNavigator*>(nav)->NotesDataCtrl(), nullptr);

    const QByteArray saved = window->contents().toUtf8();
    QVERIFY2(saved.contains("<cstring>QuireDataCtrl</cstring>"), saved.constData());
    QString error;
    auto form = LoadWithFramework(saved, &error);
    QVERIFY2(form != nullptr, qPrintable(error));
    auto* control = form->findChild<TQuireDataCtrl*>("QuireDataCtrl");
    QVERIFY(control != nullptr);
    QCOMPARE(form->findChild<TNDBNavigator*>("NDBNavigator")->NotesDataCtrl(), control);
    QCOMPARE(form->findChild<TQuireServerList*>("QuireServerList")->MasterCtrl(), control);
    QCOMPARE(control->DBName(), QString("names.nsf"));

    // Undo goes back to no reference, which the form then leaves out.
    window->commandHistory()->undo();
    window->commandHistory()->undo();
    QCOMPARE(sheet->property(index).toByteArray(), QByteArray());
    form = LoadWithFramework(window->contents().toUtf8(), &error);
    QVERIFY2(form != nullptr, qPrintable(error));
    QCOMPARE(form->findChild<TNDBNavigator*>("NDBNavigator")->NotesDataCtrl(), nullptr);
  }

  // Designer opening a saved form shows the name again and saves it unchanged, whether
  // Designer wrote it (<cstring>) or a person did (<string>).
  void aSavedFormOpensInDesignerWithItsNames() {
    QDesignerFormWindowInterface* first = NewWindow(kForm);
    QWidget* nav = first->mainContainer()->findChild<TNDBNavigator*>("NDBNavigator");
    first->cursor()->setWidgetProperty(nav, "NotesDataCtrl", QByteArray("QuireDataCtrl"));
    const QString saved = first->contents();

    QDesignerFormWindowInterface* again = NewWindow(saved);
    QWidget* reopened = again->mainContainer()->findChild<TNDBNavigator*>("NDBNavigator");
    QDesignerPropertySheetExtension* sheet = Sheet(reopened);
    const int index = sheet->indexOf("NotesDataCtrl");
    QCOMPARE(sheet->property(index).toByteArray(), QByteArray("QuireDataCtrl"));
    QVERIFY(sheet->isChanged(index));
    QCOMPARE(again->contents(), saved);

    QString byHand = saved;
    byHand.replace("<cstring>QuireDataCtrl</cstring>", "<string>QuireDataCtrl</string>");
    QVERIFY(byHand != saved);
    QDesignerFormWindowInterface* handWritten = NewWindow(byHand);
    reopened = handWritten->mainContainer()->findChild<TNDBNavigator*>("NDBNavigator");
    QVERIFY(Sheet(reopened)->isChanged(index));
    const QByteArray resaved = handWritten->contents().toUtf8();
    QVERIFY2(resaved.contains("<string>QuireDataCtrl</string>"), resaved.constData());
    QString error;
    auto form = LoadWithFramework(resaved, &error);
    QVERIFY2(form != nullptr, qPrintable(error));
    QCOMPARE(form->findChild<TNDBNavigator*>()->NotesDataCtrl(), form->findChild<TQuireDataCtrl*>());
  }

  // A renamed or deleted control leaves the name as text: Designer carries on, and the
  // framework's loader reports the missing control instead of linking something else.
  void renamingOrDeletingTheControlLeavesTheName() {
    QDesignerFormWindowInterface* window = NewWindow(kForm);
    QWidget* nav = window->mainContainer()->findChild<TNDBNavigator*>("NDBNavigator");
    QWidget* control = window->mainContainer()->findChild<TQuireDataCtrl*>("QuireDataCtrl");
    window->cursor()->setWidgetProperty(nav, "NotesDataCtrl", QByteArray("QuireDataCtrl"));
    window->cursor()->setWidgetProperty(control, "objectName", QString("Orders"));
    QCOMPARE(control->objectName(), QString("Orders"));
    QString error;
    QVERIFY(LoadWithFramework(window->contents().toUtf8(), &error) == nullptr);
    QVERIFY2(error.contains("names 'QuireDataCtrl', which is not on the form"), qPrintable(error));

    window->cursor()->setWidgetProperty(nav, "NotesDataCtrl", QByteArray("Orders"));
    window->clearSelection(false);
    window->selectWidget(control, true);
    core_->formWindowManager()->setActiveFormWindow(window);
    core_->formWindowManager()->action(QDesignerFormWindowManagerInterface::DeleteAction)->trigger();
    QVERIFY(window->mainContainer()->findChild<TQuireDataCtrl*>() == nullptr);
    QCOMPARE(Sheet(nav)->property(Sheet(nav)->indexOf("NotesDataCtrl")).toByteArray(), QByteArray("Orders"));
    const QByteArray saved = window->contents().toUtf8();
    QVERIFY(saved.contains("<cstring>Orders</cstring>"));
    QVERIFY(LoadWithFramework(saved, &error) == nullptr);
    QVERIFY2(error.contains("names 'Orders', which is not on the form"), qPrintable(error));
    // Clearing the name makes the form load again.
    window->cursor()->setWidgetProperty(nav, "NotesDataCtrl", QByteArray());
    QVERIFY2(LoadWithFramework(window->contents().toUtf8(), &error) != nullptr, qPrintable(error));
  }

 private:
  QDesignerFormWindowInterface* NewWindow(const QString& xml) {
    QDesignerFormWindowInterface* window = core_->formWindowManager()->createFormWindow(nullptr);
    windows_.emplace_back(window);
    window->setContents(xml);
    if (window->mainContainer() == nullptr) qFatal("Designer refused the form");
    return window;
  }

  QDesignerPropertySheetExtension* Sheet(QObject* object) const {
    return qt_extension<QDesignerPropertySheetExtension*>(core_->extensionManager(), object);
  }

  QDesignerFormEditorInterface* core_ = nullptr;
  std::vector<std::unique_ptr<QDesignerFormWindowInterface>> windows_;
};

QUIRE_QTEST_MAIN(DesignerFormsTest)
#include "QRDesignerForms_test.moc"
