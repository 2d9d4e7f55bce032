#pragma once

#include "controller/Services.h"
#include "platform/FileUrl.h"
#include "platform/Log.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QAction;

namespace Ui {
class ViewController;
}

namespace pellim {

// The main window and the state all six tests share. Its member functions are
// defined beside the code they belong to: the window itself in controller/, the
// writing tests in writing/, the reading tests in reading/.
class ViewController : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewController(const Services &services, QWidget *parent = nullptr);
    ~ViewController() override;

    // Which caller a folder pick serves; they differ in how the folder is named.
    enum class PickVariant { Consent, ChosenFolder };

    // Shared state.
    const LogHandle gen_log;
    const QString textOutput;
    QStringList theSpecFolderList;
    QList<FileUrl> theSpecDirs;

    // Outlets, connected from the .ui form.
    QLineEdit *openedText = nullptr;
    QLineEdit *fileName = nullptr;
    QComboBox *folderList = nullptr;

    // The menu command that opens a help window.
    QAction *helpAction() const;

    // controller/FolderSelection.cpp
    std::optional<FileUrl> selectedProtectedFolder() const;

    // writing/
    void writeTestFile(const FileUrl &target);
    void showWriteFailureAlert(const QString &encodedPath);

    // reading/
    bool readAndShow(const FileUrl &file, bool reportFailure);
    void pickTextFile(const FileUrl &folder, PickVariant variant);

    const Services &services() const { return m_services; }

public Q_SLOTS:
    void doSaveIntent();
    void doSaveToFolder();
    void doSaveConsent();
    void doOpenIntent();
    void doOpenConsent();
    void doOpenFolder();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void windowSetUp();
    void logInfo(const QString &message) const;
    void logError(const QString &message) const;
    // controller/FolderSelection.cpp: the folder list's behaviour while typing.
    void setUpFolderList();

    Services m_services;
    std::unique_ptr<Ui::ViewController> ui;
};

} // namespace pellim
