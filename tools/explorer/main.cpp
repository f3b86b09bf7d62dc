// quire-explorer: browse, search and edit a database with the Quire components.
//
//   quire-explorer                  the sample database (made first when it is missing)
//   quire-explorer SERVER!!PATH     that database ("!!PATH" or "PATH" for the local server)
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <cstdio>

#include "binding/Quire01.h"
#include "tools/explorer/Explorer.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quire"));
  QApplication::setApplicationName(QStringLiteral("Quire Explorer"));
  const QStringList arguments = QApplication::arguments().mid(1);
  if (arguments.size() > 1 || (!arguments.isEmpty() && arguments[0].startsWith(QLatin1Char('-')))) {
    std::fprintf(stderr, "usage: quire-explorer [SERVER!!PATH]\n");
    return 2;
  }
  Initialize();
  if (!DLLLoaded || !HTInitOK) {
    std::fprintf(stderr, "quire-explorer: the database engine did not start: %s\n",
                 GetNotesErrorText(HTGlobalErr).c_str());
    return 1;
  }
  Explorer explorer;
  if (!explorer.Ok()) {
    std::fprintf(stderr, "quire-explorer: %s\n", qPrintable(explorer.FormError()));
    return 1;
  }
  explorer.Window()->show();
  if (arguments.isEmpty()) explorer.OpenSample();
  else explorer.Open(arguments[0]);
  return QApplication::exec();
}
