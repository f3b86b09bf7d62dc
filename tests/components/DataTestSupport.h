// Shared support for the data-control tests: databases made in the test program's data
// directory through the object model and the C API, and an event log that a test attaches to
// a control to see which events came, in which order, and whether busy and idle paired up.
#pragma once

#include <QtTest/QTest>
#include <memory>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "components/QRData.h"
#include "objects/QRDbase.h"
#include "objects/QRFolder.h"
#include "objects/Quiredoc.h"
#include "tests/framework/QtTestSupport.h"

namespace datatest {

// A database path not used before in this program.
inline std::string UniquePath(const std::string& prefix) {
  static int counter = 0;
  return prefix + "-" + std::to_string(++counter) + ".nsf";
}

inline std::string CreateDatabase(const std::string& prefix, const std::string& title = "Data control") {
  const std::string path = UniquePath(prefix);
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", path.c_str(), title.c_str(), "", HTDBCLASS_DATABASE);
  if (status != 0) qFatal("cannot create %s: %s", path.c_str(), GetNotesErrorText(status).c_str());
  return path;
}

inline HTCOLUMNSPEC Column(const char* title, const char* item, HTCOLUMNSORT sort,
                           HTCOLUMNTOTAL total = HTCOLTOTAL_NONE) {
  HTCOLUMNSPEC c{};
  c.title = title;
  c.itemName = item;
  c.sort = sort;
  c.total = total;
  c.width = 80;
  c.justify = HTCOLJUSTIFY_LEFT;
  c.fontFace = HTFONT_SWISS;
  return c;
}

// Documents and design notes of one database, made through its own session.
class Fixture {
 public:
  explicit Fixture(const std::string& prefix) : path(CreateDatabase(prefix)) {
    database = session.GetDatabase("", path);
    if (!database) qFatal("cannot open %s", path.c_str());
  }

  // Saves a document; `parentUnid` makes it a response. Answers its universal ID.
  std::string Add(const std::string& subject, const std::string& category = "", double amount = 0,
                  const std::string& parentUnid = "") {
    auto doc = database->CreateDocument("");
    doc->AppendTextItem("Form", "Memo");
    doc->AppendTextItem("Subject", subject);
    if (!category.empty()) doc->AppendTextItem("Category", category);
    doc->AppendNumberItem("Amount", amount);
    if (!parentUnid.empty()) doc->SetParentUNID(parentUnid);
    doc->Save();
    if (doc->LastError != 0) qFatal("cannot save: %s", doc->GetNotesErrorString().c_str());
    return doc->GetUniversalID();
  }

  void MakeView(const char* name, std::vector<HTCOLUMNSPEC> columns, HTUINT flags = 0, const char* selection = "") {
    HTVIEWSPEC spec{};
    spec.name = name;
    spec.selection = selection;
    spec.flags = flags;
    spec.backgroundColor = 1;
    spec.alternateColor = 1;
    spec.columnCount = static_cast<HTUINT>(columns.size());
    spec.columns = columns.data();
    HTID id = 0;
    const HTSTATUS status = HTAPI.HTViewCreate(database->DbHandle, &spec, &id);
    if (status != 0) qFatal("cannot create view %s: %s", name, GetNotesErrorText(status).c_str());
  }

  // A folder with the design of `view`, holding the given documents.
  void MakeFolder(const char* name, const char* view, const std::vector<std::string>& unids) {
    auto folder = database->CreateFolderFromView(name, view, false);
    if (!folder) qFatal("cannot create folder %s", name);
    for (const std::string& unid : unids) {
      auto doc = database->GetDocumentByUNID(unid);
      folder->AddDocument(doc->DocID);
    }
  }

  TQuireSession session;
  std::string path;
  std::unique_ptr<TQuireDatabase> database;
};

// Records a control's events as short texts, and the nesting of busy and idle.
class EventLog {
 public:
  explicit EventLog(TQuireDataCtrl& control, bool withMove = true) {
    control.OnDBBusy = [this](QObject*) {
      events.push_back("busy");
      ++busy;
      ++depth;
      maxDepth = std::max(maxDepth, depth);
    };
    control.OnDBIdle = [this](QObject*) {
      events.push_back("idle");
      ++idle;
      if (--depth < 0) unbalanced = true;
    };
    control.OnError = [this](QObject*, const QString& errstr, int hterr, int severity, const QString& htmsg) {
      errors.push_back(errstr);
      codes.push_back(hterr);
      severities.push_back(severity);
      messages.push_back(htmsg);
      events.push_back("error:" + errstr.toStdString());
    };
    if (withMove) {
      control.OnMove = [this](QObject*, int posn, const QString& unid, bool isDoc, bool isCategory, bool isTotal) {
        moves.push_back({posn, unid, isDoc, isCategory, isTotal});
        events.push_back("move");
      };
    }
    control.OnEOF = [this](QObject*) { events.push_back("eof"); };
    control.OnBOF = [this](QObject*) { events.push_back("bof"); };
    control.OnDBOpen = [this](QObject*) { events.push_back("open"); };
    control.OnDBClose = [this](QObject*) { events.push_back("close"); };
    control.OnAdd = [this](QObject*) { events.push_back("add"); };
  }

  struct Move {
    int posn;
    QString unid;
    bool isDoc, isCategory, isTotal;
  };

  void Clear() {
    events.clear();
    errors.clear();
    codes.clear();
    severities.clear();
    messages.clear();
    moves.clear();
    busy = idle = 0;
    depth = maxDepth = 0;
    unbalanced = false;
  }
  // Every busy was followed by its idle, in nesting order, and the control ended idle.
  bool Balanced() const { return !unbalanced && depth == 0 && busy == idle; }
  int Count(const std::string& event) const { return int(std::count(events.begin(), events.end(), event)); }

  std::vector<std::string> events;
  std::vector<QString> errors;
  std::vector<int> codes;
  std::vector<int> severities;
  std::vector<QString> messages;
  std::vector<Move> moves;
  int busy = 0;
  int idle = 0;
  int depth = 0;
  int maxDepth = 0;
  bool unbalanced = false;
};

}  // namespace datatest
