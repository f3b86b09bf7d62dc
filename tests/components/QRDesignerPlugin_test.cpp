// The Designer plugin as Designer loads it (QPluginLoader): its widgets against the palette
// registry, and a form written by Designer's form builder read back by the form loader.
#include <QtCore/QBuffer>
#include <QtCore/QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <QtCore/QXmlStreamReader>

#include "components/QRMail.h"
#include "components/QRNav.h"
#include "components/QRReg.h"
#include "components/QRServls.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"
#include "tests/framework/QtTestSupport.h"

class DesignerPluginTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    ClearPalette();
    QPluginLoader loader(QStringLiteral(QUIRE_DESIGNER_PLUGIN));
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    QVERIFY(collection != nullptr);
    widgets_ = collection->customWidgets();
  }

  void theWidgetBoxIsThePaletteInOrder() {
    const std::vector<QRPaletteEntry> quire = PaletteEntriesOnPage("QUIRE");
    QCOMPARE(int(quire.size()), 4);
    QStringList names, groups;
    for (auto* widget : widgets_) {
      names << widget->name();
      groups << widget->group();
    }
    QCOMPARE(names, QStringList({"TQuireDataCtrl", "TQuireSendMail", "TNDBNavigator", "TQuireServerList"}));
    QCOMPARE(groups, QStringList(4, "QUIRE"));
    for (int i = 0; i < 4; ++i) QCOMPARE(names[i], QString(quire[size_t(i)].metaObject->className()));
    // Only components; nothing of the object model.
    for (const QRPaletteEntry& entry : PaletteEntries())
      QVERIFY2(entry.metaObject->inherits(&QWidget::staticMetaObject), entry.metaObject->className());
  }

  void iconsAreThePaletteBitmaps() {
    for (auto* widget : widgets_) {
      const QIcon icon = widget->icon();
      if (widget->name() == "TQuireServerList") {
        QVERIFY(icon.isNull());  // Designer's default image
        continue;
      }
      QVERIFY2(!icon.isNull(), qPrintable(widget->name()));
      const QImage expected = QRLoadBitmap(widget->name().toUpper()).toImage();
      QCOMPARE(expected.size(), QSize(24, 24));
      QCOMPARE(icon.pixmap(24).toImage().convertToFormat(expected.format()), expected);
    }
  }

  void widgetsAreMadeInTheDesigningState() {
    QWidget form;
    for (auto* widget : widgets_) {
      QWidget* made = widget->createWidget(&form);
      QVERIFY2(made != nullptr, qPrintable(widget->name()));
      QCOMPARE(QString(made->metaObject()->className()), widget->name());
      QVERIFY(QRComponentOf(made)->IsDesigning());
      QXmlStreamReader xml(widget->domXml());
      while (!xml.atEnd() && !(xml.isStartElement() && xml.name() == u"widget")) xml.readNext();
      QCOMPARE(xml.attributes().value("class").toString(), widget->name());
      QVERIFY(!widget->isContainer());
      QVERIFY(widget->includeFile().endsWith(".h"));
    }
    auto* nav = form.findChild<TNDBNavigator*>();
    QCOMPARE(nav->size(), QSize(234, 25));
    std::vector<TNDNavigateBtn> clicks;
    nav->OnClick = [&](QObject*, TNDNavigateBtn b) { clicks.push_back(b); };
    nav->BtnClick(qrbNext);
    QVERIFY(clicks.empty());  // no run-time events while designed
    auto* control = form.findChild<TQuireDataCtrl*>();
    QVERIFY(!control->isHidden());
    QCOMPARE(control->size(), QSize(26, 26));
  }

  // A form as Designer saves it after the four widgets were dropped from the box: each widget
  // under the name its domXml gives, enumerations and sets scoped, references as names.
  void aFormAsDesignerSavesItLoads() {
    QString ui = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <property name="geometry"><rect><x>0</x><y>0</y><width>400</width><height>200</height></rect></property>
  %1
 </widget>
</ui>)";
    const QMap<QString, QString> properties = {
        {"TQuireDataCtrl",
         R"(<property name="DBName"><string>mail\orders.nsf</string></property>
            <property name="Form"><string>Order</string></property>
            <property name="RecordsetType"><enum>QRData::dFolder</enum></property>)"},
        {"TNDBNavigator",
         R"(<property name="geometry"><rect><x>8</x><y>40</y><width>241</width><height>25</height></rect></property>
            <property name="VisibleButtons"><set>QRNavSet::qrbFirst|QRNavSet::qrbPrior|QRNavSet::qrbNext|QRNavSet::qrbLast</set></property>
            <property name="Align"><enum>QRNav::alTop</enum></property>
            <property name="Hints"><stringlist><string>First</string><string>Prior</string></stringlist></property>
            <property name="NotesDataCtrl"><string>QuireDataCtrl</string></property>
            <property name="ConfirmDelete"><bool>false</bool></property>)"},
        {"TQuireServerList", R"(<property name="MasterCtrl"><string>QuireDataCtrl</string></property>)"},
        {"TQuireSendMail", ""}};
    QString widgets;
    for (auto* widget : widgets_) {
      QString xml = widget->domXml();
      xml = xml.mid(xml.indexOf("<widget"));
      xml = xml.left(xml.indexOf("</ui>"));
      xml.replace("/>", ">" + properties.value(widget->name()) + "</widget>");
      widgets += xml;
    }
    QByteArray form = ui.arg(widgets).toUtf8();
    QBuffer in(&form);
    in.open(QIODevice::ReadOnly);
    QRFormLoader loader;
    auto loaded = loader.Load(in);
    QVERIFY2(loaded != nullptr, qPrintable(loader.ErrorString()));
    auto* nav = loaded->findChild<TNDBNavigator*>("NDBNavigator");
    auto* control = loaded->findChild<TQuireDataCtrl*>("QuireDataCtrl");
    auto* servers = loaded->findChild<TQuireServerList*>("QuireServerList");
    QVERIFY(nav && control && servers && loaded->findChild<TQuireSendMail*>("QuireSendMail"));
    QVERIFY(!nav->IsDesigning() && !nav->IsLoading());
    QCOMPARE(nav->NotesDataCtrl(), control);
    QCOMPARE(servers->MasterCtrl(), control);
    QCOMPARE(nav->VisibleButtons(), AllButtons() & ~(ButtonSetOf(qrbInsert) | ButtonSetOf(qrbDelete) |
                                                     ButtonSetOf(qrbPost) | ButtonSetOf(qrbCancel) |
                                                     ButtonSetOf(qrbRefresh)));
    QCOMPARE(nav->Align(), QRNav::alTop);
    QCOMPARE(nav->Hints(), QStringList({"First", "Prior"}));
    QVERIFY(!nav->ConfirmDelete());
    QCOMPARE(nav->geometry(), QRect(8, 40, 241, 25));  // aligned: the width stays
    QCOMPARE(control->DBName(), QString("mail\\orders.nsf"));
    QCOMPARE(control->Form(), QString("Order"));
    QCOMPARE(control->RecordsetType(), dFolder);
  }

  void theUnitsRegisterOnTheirOwnPage() {
    ClearPalette();
    QRNav::Register();
    QCOMPARE(PaletteEntries().size(), size_t(1));
    QCOMPARE(PaletteEntries()[0].page, QString("Quire"));
    QRReg::Register();  // the same page in other letters: the navigator keeps its place
    QStringList names;
    for (const QRPaletteEntry& e : PaletteEntriesOnPage("QUIRE")) names << e.metaObject->className();
    QCOMPARE(names, QStringList({"TNDBNavigator", "TQuireDataCtrl", "TQuireSendMail", "TQuireServerList"}));
  }

 private:
  QDesignerCustomWidgetInterface* Widget(const QString& name) const {
    for (auto* widget : widgets_)
      if (widget->name() == name) return widget;
    qFatal("no widget %s", qPrintable(name));
  }

  QList<QDesignerCustomWidgetInterface*> widgets_;
};

QUIRE_QTEST_MAIN(DesignerPluginTest)
#include "QRDesignerPlugin_test.moc"
