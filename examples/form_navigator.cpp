// A form bound to a database: a data control holds the record set (the documents a formula
// selects), a navigator bar moves through it, and the form shows the current document's
// items. Run it as it is for the window; with --self-test (as continuous integration runs
// it, under QT_QPA_PLATFORM=offscreen) it clicks through the record set and checks what the
// form showed.
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <binding/Quire01.h>
#include <components/QRData.h>
#include <components/QRNav.h>
#include <objects/QRDbase.h>
#include <objects/QRSessn.h>
#include <objects/Quiredoc.h>

namespace {

constexpr char kPath[] = "examples\\people.nsf";
const char* const kPeople[][2] = {{"Ada Lovelace", "London"}, {"Grace Hopper", "New York"}, {"Alan Turing", "Wilmslow"}};

// The sample database, made afresh through the object model.
bool CreateSample() {
  TQuireSession session;
  HTAPI.HTDatabaseDelete("", kPath);
  if (!session.Initialized || HTAPI.HTDatabaseCreate("", kPath, "People", "", HTDBCLASS_DATABASE) != HTSUCCESS) {
    return false;
  }
  auto database = session.GetDatabase("", kPath);
  if (!database) return false;
  for (const auto& person : kPeople) {
    auto doc = database->CreateDocument("");
    if (!doc) return false;
    doc->AppendTextItem("Form", "Person");
    doc->AppendTextItem("Name", person[0]);
    doc->AppendTextItem("City", person[1]);
    doc->Save();
    if (doc->LastError != 0) return false;
  }
  return true;
}

class PersonForm : public QWidget {
 public:
  PersonForm() {
    // The data control is invisible at run time; it only needs an owner to share its life.
    data_ = new TQuireDataCtrl(this);
    data_->SetRecordsetType(QRData::dDocCollection);
    data_->SetDBName(QString::fromUtf8(kPath));
    data_->SetFormula(QStringLiteral("SELECT Form = \"Person\""));
    data_->OnMove = [this](QObject*, int, const QString&, bool, bool, bool) { Show(); };
    navigator_ = new TNDBNavigator(this);
    navigator_->SetNotesDataCtrl(data_);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Name"), name_ = new QLabel);
    fields->addRow(QStringLiteral("City"), city_ = new QLabel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(navigator_);
    setWindowTitle(QStringLiteral("People"));
  }

  // Opens the database and the record set; the data control reports failures itself.
  bool Open() {
    data_->SetActive(true);
    return data_->OpenDatabase() && data_->OpenRecordset();
  }

  TNDBNavigator* Navigator() const { return navigator_; }
  QString ShownName() const { return name_->text(); }

 private:
  void Show() {
    name_->setText(data_->GetItemAsString(QStringLiteral("Name")));
    city_->setText(data_->GetItemAsString(QStringLiteral("City")));
  }

  TQuireDataCtrl* data_ = nullptr;
  TNDBNavigator* navigator_ = nullptr;
  QLabel* name_ = nullptr;
  QLabel* city_ = nullptr;
};

// Clicks last, first, next as a person would, and checks the name the form shows each time.
int SelfTest(PersonForm& form) {
  struct Step {
    TNDNavigateBtn button;
    const char* name;
  };
  const Step steps[] = {{qrbLast, kPeople[2][0]}, {qrbFirst, kPeople[0][0]}, {qrbNext, kPeople[1][0]}};
  for (const Step& step : steps) {
    form.Navigator()->BtnClick(step.button);
    const QByteArray shown = form.ShownName().toUtf8();
    std::printf("after button %d the form shows %s\n", int(step.button), shown.constData());
    if (shown != step.name) {
      std::fprintf(stderr, "expected %s\n", step.name);
      return 1;
    }
  }
  return 0;
}

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!CreateSample()) {
    std::fprintf(stderr, "cannot create the sample database %s\n", kPath);
    return 1;
  }
  PersonForm form;
  if (!form.Open()) return 1;
  if (argc > 1 && std::strcmp(argv[1], "--self-test") == 0) return SelfTest(form);
  form.show();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  Initialize();
  const int result = Run(argc, argv);
  Finalize();
  return result;
}
