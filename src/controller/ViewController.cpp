// Skeleton: replaced by the application-shell work.
#include "controller/ViewController.h"

#include "controller/ActivityLog.h"
#include "ui_Main.h"

#include <QAction>

namespace pellim {

ViewController::ViewController(const Services &services, QWidget *parent)
    : QMainWindow(parent), gen_log(services.log, QString::fromLatin1(kAppId), QStringLiteral("general")),
      m_services(services), ui(std::make_unique<Ui::ViewController>()) {
    ui->setupUi(this);
}

ViewController::~ViewController() = default;

QAction *ViewController::helpAction() const { return nullptr; }
void ViewController::showEvent(QShowEvent *event) { QMainWindow::showEvent(event); }
void ViewController::closeEvent(QCloseEvent *event) { QMainWindow::closeEvent(event); }
void ViewController::windowSetUp() {}
void ViewController::logInfo(const QString &message) const {
    activityLog(gen_log, LogLevel::Info, message);
}
void ViewController::logError(const QString &message) const {
    activityLog(gen_log, LogLevel::Error, message);
}

} // namespace pellim
