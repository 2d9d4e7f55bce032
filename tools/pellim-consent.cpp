#include "guard/ConsentCommand.h"
#include "guard/ConsentStore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    pellim::ConsentStore store(pellim::ConsentStore::defaultPath());
    return pellim::runConsentCommand(QCoreApplication::arguments().mid(1), store, out, err);
}
